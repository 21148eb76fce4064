#pragma once

#include <QByteArray>
#include <QString>

// The name a deletion takes and the folder entries it reaches: pure functions.
namespace DeleteName {

// False for a name that deletes nothing: empty, ".", holding '\', '/', ".." or a
// control character (below U+0020, or U+007F).
bool isAcceptable(const QString &name);

// The matcher of an acceptable name: '*' and '?' are the only wildcards, case is
// ignored, and a name ending in ".*" also matches names with no dot ("*.*" matches all).
// It never backtracks more than once per character, whatever the stars: a regular
// expression engine gives up on some names and would then report a match as none.
class Matcher
{
public:
    explicit Matcher(const QString &name);
    bool matches(const QString &entryName) const;

private:
    QString m_pattern;           ///< case-folded
    bool m_orWithoutDot = false; ///< the pattern ends with ".*"
};

Matcher matcher(const QString &name);

// A native name as text; each byte that is not part of valid UTF-8 becomes U+001A,
// a control character no acceptable name holds, so only '*' and '?' match it.
QString decodeNative(const QByteArray &nativeName);

bool matches(const Matcher &matcher, const QByteArray &nativeName);

} // namespace DeleteName
