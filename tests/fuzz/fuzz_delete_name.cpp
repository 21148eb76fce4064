#include "FuzzCheck.h"
#include "copy/DeleteName.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// '*' any run, '?' any one character, ASCII case ignored; a pattern ending in ".*" also
// names the same files without an extension: the plain meaning of a wildcard.
bool reference(QByteArrayView pattern, QByteArrayView name, bool extension = true)
{
    std::vector<char> row(size_t(name.size()) + 1, 0), next(row.size(), 0);
    row[0] = 1;
    for (const char p : pattern) {
        for (size_t j = 0; j < row.size(); ++j)
            next[j] = p == '*' ? row[j] || (j > 0 && next[j - 1]) : j > 0 && row[j - 1] && (p == '?' || lower(p) == lower(name[qsizetype(j - 1)]));
        row.swap(next);
    }
    return row.back() || (extension && pattern.endsWith(".*") && reference(pattern.chopped(2), name, false));
}

} // namespace

// The input is the name typed, a NUL, then the native name of a folder entry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\0');
    const QByteArray typed = cut < 0 ? input : input.left(cut), native = cut < 0 ? QByteArray() : input.mid(cut + 1);
    const QString name = QString::fromUtf8(typed), decoded = DeleteName::decodeNative(native);

    FUZZ_EXPECT(DeleteName::matches(DeleteName::matcher(QStringLiteral("*")), native) && DeleteName::matches(DeleteName::matcher(QStringLiteral("*.*")), native));
    // Decoded without loss where the name is UTF-8; else never longer, and with no lone surrogate.
    FUZZ_EXPECT(decoded.size() <= native.size() && decoded.isValidUtf16());
    FUZZ_EXPECT(QString::fromUtf8(native).toUtf8() != native || decoded == QString::fromUtf8(native));
    if (!DeleteName::isAcceptable(name))
        return 0;
    FUZZ_EXPECT(!name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1String("..")) && !name.contains(QLatin1Char('/'))
                && !name.contains(QLatin1Char('\\')) && std::none_of(name.begin(), name.end(), [](QChar c) { return c < u' ' || c == u'\x7f'; }));
    // A name matches itself, and where both are ASCII, whatever the wildcard meaning says.
    const DeleteName::Matcher matcher = DeleteName::matcher(name);
    FUZZ_EXPECT(name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?')) || DeleteName::matches(matcher, name.toUtf8()));
    const auto ascii = [](QByteArrayView bytes) { return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }); };
    if (ascii(typed) && ascii(native) && typed.size() * native.size() < 1000000)
        FUZZ_EXPECT(DeleteName::matches(matcher, native) == reference(typed, native));
    return 0;
}
