#include "FuzzCheck.h"
#include "copy/DeleteName.h"

#include <QString>

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
            next[j] = p == '*' ? row[j] || (j > 0 && next[j - 1])
                               : j > 0 && row[j - 1] && (p == '?' || lower(p) == lower(name[qsizetype(j - 1)]));
        row.swap(next);
    }
    return row.back() || (extension && pattern.endsWith(".*") && reference(pattern.chopped(2), name, false));
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

// The input is the name typed, a NUL, then the native name of a folder entry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\0');
    const QByteArray typed = cut < 0 ? input : input.left(cut), native = cut < 0 ? QByteArray() : input.mid(cut + 1);
    const QString name = QString::fromUtf8(typed);

    static const DeleteName::Matcher star = DeleteName::matcher(QStringLiteral("*")), starDotStar = DeleteName::matcher(QStringLiteral("*.*"));
    FUZZ_EXPECT(DeleteName::matches(star, native) && DeleteName::matches(starDotStar, native), input);

    // Decoded without loss where the name is UTF-8; else never longer, and with no lone surrogate.
    const QString decoded = DeleteName::decodeNative(native);
    FUZZ_EXPECT(decoded.size() <= native.size(), input);
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const bool pair = decoded[i].isHighSurrogate() && i + 1 < decoded.size() && decoded[i + 1].isLowSurrogate();
        FUZZ_EXPECT(pair || !decoded[i].isSurrogate(), input);
        i += pair ? 1 : 0;
    }
    if (QString::fromUtf8(native).toUtf8() == native)
        FUZZ_EXPECT(decoded == QString::fromUtf8(native), input);

    if (!DeleteName::isAcceptable(name))
        return 0;
    FUZZ_EXPECT(!name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1String("..")), input);
    FUZZ_EXPECT(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')), input);
    FUZZ_EXPECT(std::none_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }), input);

    const DeleteName::Matcher matcher = DeleteName::matcher(name);
    if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?'))) { // a plain name matches itself in any ASCII case
        const QByteArray spelled = name.toUtf8();
        QByteArray upper = spelled, lowered = spelled;
        std::transform(spelled.begin(), spelled.end(), lowered.begin(), lower);
        std::transform(spelled.begin(), spelled.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
        for (const QByteArray &spelling : {spelled, upper, lowered})
            FUZZ_EXPECT(DeleteName::matches(matcher, spelling), input);
    }
    if (isAscii(typed) && isAscii(native) && typed.size() * native.size() < 1000000)
        FUZZ_EXPECT(DeleteName::matches(matcher, native) == reference(typed, native), input);
    return 0;
}
