#include "FuzzCheck.h"
#include "copy/DeleteName.h"

// '*' any run, '?' any one character, ASCII case ignored; a pattern ending in ".*" also
// names the same files without an extension: the plain meaning of a wildcard.
static bool reference(QByteArrayView pattern, QByteArrayView name, bool extension = true)
{
    QByteArray row(name.size() + 1, 0); // row[j]: the pattern so far matches the first j characters
    row[0] = 1;
    for (const char p : pattern) // a star extends matches forwards; any other character moves them on, backwards
        for (qsizetype j = p == '*' ? 1 : name.size(); j >= 0 && j <= name.size(); j += p == '*' ? 1 : -1)
            row[j] = p == '*' ? row[j] || row[j - 1]
                              : j > 0 && row[j - 1] && (p == '?' || QChar::toLower(uchar(p)) == QChar::toLower(uchar(name[j - 1])));
    return row.back() || (extension && pattern.endsWith(".*") && reference(pattern.chopped(2), name, false));
}

// The input is the name typed, a NUL, then the native name of a folder entry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray typed(input.constData()), native = input.mid(typed.size() + 1);
    const QString name = QString::fromUtf8(typed), decoded = DeleteName::decodeNative(native);
    using DeleteName::matches, DeleteName::matcher;
    // Decoded without loss where the name is UTF-8; else never longer, and with no lone surrogate.
    FUZZ_EXPECT(matches(matcher(QStringLiteral("*")), native) && matches(matcher(QStringLiteral("*.*")), native)
                && decoded.size() <= native.size() && decoded.isValidUtf16()
                && (QString::fromUtf8(native).toUtf8() != native || decoded == QString::fromUtf8(native)));
    if (!DeleteName::isAcceptable(name))
        return 0;
    FUZZ_EXPECT(!name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1String("..")) && !name.contains(u'/')
                && !name.contains(u'\\') && std::none_of(name.begin(), name.end(), [](QChar c) { return c < u' ' || c == u'\x7f'; }));
    // A name matches itself, and where both are ASCII, whatever the wildcard meaning says.
    FUZZ_EXPECT(name.contains(u'*') || name.contains(u'?') || matches(matcher(name), name.toUtf8()));
    FUZZ_EXPECT(std::ranges::any_of(typed + native, [](char c) { return c < 0; }) || typed.size() * native.size() >= 1000000
                || matches(matcher(name), native) == reference(typed, native));
    return 0;
}
