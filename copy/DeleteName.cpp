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

// '*' takes any run, '?' one character; on a mismatch only the last star is
// stretched, which is enough for patterns made of literals, '?' and '*'.
bool wildcardMatch(QStringView pattern, QStringView name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype star = -1;
    qsizetype resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') { // before the literal test: names may hold '*'
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
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

Matcher::Matcher(const QString &name)
    : m_pattern(name.toCaseFolded())
    , m_orWithoutDot(name.endsWith(u".*"))
{ }

bool Matcher::matches(const QString &entryName) const
{
    const QString folded = entryName.toCaseFolded();
    return wildcardMatch(m_pattern, folded)
        || (m_orWithoutDot && wildcardMatch(QStringView(m_pattern).chopped(2), folded));
}

Matcher matcher(const QString &name)
{
    return Matcher(name);
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

bool matches(const Matcher &matcher, const QByteArray &nativeName)
{
    return matcher.matches(decodeNative(nativeName));
}

} // namespace DeleteName
