#include "FuzzCheck.h"
#include "copy/DeleteName.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// '*' any run, '?' any one character, ASCII case ignored: the plain meaning of a wildcard.
bool glob(QByteArrayView pattern, QByteArrayView name)
{
    const size_t columns = size_t(name.size()) + 1;
    std::vector<char> row(columns, 0), next(columns, 0);
    row[0] = 1;
    for (const char p : pattern) {
        std::fill(next.begin(), next.end(), 0);
        for (size_t j = 0; j < columns; ++j) {
            if (p == '*')
                next[j] = row[j] || (j > 0 && next[j - 1]);
            else if (j > 0)
                next[j] = row[j - 1] && (p == '?' || lower(p) == lower(name[qsizetype(j - 1)]));
        }
        row.swap(next);
    }
    return row[columns - 1];
}

// A name ending in ".*" also names the same files without an extension.
bool reference(QByteArrayView pattern, QByteArrayView name)
{
    return glob(pattern, name) || (pattern.endsWith(".*") && glob(pattern.chopped(2), name));
}

QString asciiCase(const QString &name, bool upper)
{
    QString changed = name;
    for (QChar &c : changed) {
        if (upper && c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - u'a' + u'A');
        if (!upper && c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() - u'A' + u'a');
    }
    return changed;
}

bool surrogatesPaired(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

} // namespace

// The input is the name typed, a NUL, then the native name of a folder entry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\0');
    const QByteArray typed = cut < 0 ? input : input.left(cut);
    const QByteArray native = cut < 0 ? QByteArray() : input.mid(cut + 1);
    const QString name = QString::fromUtf8(typed);

    static const DeleteName::Matcher star = DeleteName::matcher(QStringLiteral("*"));
    static const DeleteName::Matcher starDotStar = DeleteName::matcher(QStringLiteral("*.*"));
    FUZZ_EXPECT(DeleteName::matches(star, native) && DeleteName::matches(starDotStar, native), input);

    const QString decoded = DeleteName::decodeNative(native);
    FUZZ_EXPECT(decoded.size() <= native.size() && surrogatesPaired(decoded), input);
    const QString utf8 = QString::fromUtf8(native);
    if (utf8.toUtf8() == native)
        FUZZ_EXPECT(decoded == utf8, input);

    if (!DeleteName::isAcceptable(name))
        return 0;
    FUZZ_EXPECT(!name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1String("..")), input);
    FUZZ_EXPECT(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')), input);
    for (const QChar c : name)
        FUZZ_EXPECT(c.unicode() >= 0x20 && c.unicode() != 0x7F, input);

    const DeleteName::Matcher matcher = DeleteName::matcher(name);
    const bool matched = DeleteName::matches(matcher, native);
    if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?'))) {
        FUZZ_EXPECT(DeleteName::matches(matcher, name.toUtf8()), input);
        FUZZ_EXPECT(DeleteName::matches(matcher, asciiCase(name, true).toUtf8()), input);
        FUZZ_EXPECT(DeleteName::matches(matcher, asciiCase(name, false).toUtf8()), input);
    }
    if (isAscii(typed) && isAscii(native) && typed.size() * native.size() < 1000000)
        FUZZ_EXPECT(matched == reference(typed, native), input);
    return 0;
}
