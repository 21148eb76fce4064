#include "copy/DeleteName.h"

namespace {

constexpr char16_t Undecodable = u'\x1a';

// The length of the valid UTF-8 sequence at the start of `bytes`, 0 if there is
// none; the code point goes to `codePoint`.
int sequenceAt(const uchar *bytes, qsizetype left, char32_t &codePoint)
{
    const uchar lead = bytes[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    int length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    codePoint = value;
    return length;
}

QString wildcardToPattern(QStringView name)
{
    QString pattern;
    qsizetype literalStart = 0;
    auto flushLiteral = [&](qsizetype end) {
        pattern += QRegularExpression::escape(name.mid(literalStart, end - literalStart));
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] != u'*' && name[i] != u'?')
            continue;
        flushLiteral(i);
        pattern += name[i] == u'*' ? QStringLiteral(".*") : QStringLiteral(".");
        literalStart = i + 1;
    }
    flushLiteral(name.size());
    return pattern;
}

} // namespace

namespace DeleteName {

bool isAcceptable(const QString &name)
{
    if (name.isEmpty() || name == u"." || name.contains(u"..") || name.contains(u'/') || name.contains(u'\\'))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

QRegularExpression matcher(const QString &name)
{
    QString pattern;
    if (name.endsWith(u".*")) {
        const QStringView stem = QStringView(name).chopped(2);
        pattern = QStringLiteral("(?:%1)(?:\\..*)?").arg(wildcardToPattern(stem));
    } else {
        pattern = wildcardToPattern(name);
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                              QRegularExpression::CaseInsensitiveOption
                                  | QRegularExpression::DotMatchesEverythingOption
                                  | QRegularExpression::UseUnicodePropertiesOption);
}

QString decodeNative(const QByteArray &nativeName)
{
    const auto *bytes = reinterpret_cast<const uchar *>(nativeName.constData());
    const qsizetype size = nativeName.size();
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size;) {
        char32_t codePoint = 0;
        const int length = sequenceAt(bytes + i, size - i, codePoint);
        if (length == 0) {
            text += QChar(Undecodable);
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            text += QChar(QChar::highSurrogate(codePoint));
            text += QChar(QChar::lowSurrogate(codePoint));
        } else {
            text += QChar(char16_t(codePoint));
        }
        i += length;
    }
    return text;
}

bool matches(const QRegularExpression &matcher, const QByteArray &nativeName)
{
    return matcher.match(decodeNative(nativeName)).hasMatch();
}

} // namespace DeleteName
