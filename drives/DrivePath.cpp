#include "drives/DrivePath.h"

#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QDir>

namespace DrivePath {

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

void appendParts(QStringList &parts, QStringView text)
{
    for (const QStringView part : text.split(QLatin1Char('\\'))) {
        if (part.isEmpty() || part == u".")
            continue;
        // ".." would climb above the root or out of the key; '/' and NUL would be read
        // as native separators or terminators.
        if (part == u".." || part.contains(QLatin1Char('/')) || part.contains(QChar(0)))
            throw failureFor(FailureNumber::BadFileName);
        parts.append(part.toString());
    }
}

} // namespace

Parsed parse(const QString &text)
{
    if (text.isEmpty() || text.front() == QLatin1Char(':'))
        throw failureFor(FailureNumber::DeviceUnavailable);
    if (text.size() < 2 || !isAsciiLetter(text[0]) || text[1] != QLatin1Char(':'))
        throw failureFor(FailureNumber::BadFileName);

    Parsed parsed;
    parsed.letter = text[0].toUpper();
    const QStringView rest = QStringView(text).mid(2);
    if (rest.isEmpty() || rest.front() == QLatin1Char(' '))
        return parsed; // "E:" or the drive list's "e: [LABEL]"
    parsed.rooted = rest.front() == QLatin1Char('\\');
    appendParts(parsed.parts, rest);
    return parsed;
}

QString format(QChar letter, const QStringList &parts)
{
    return QString(letter.toUpper()) + QLatin1String(":\\") + parts.join(QLatin1Char('\\'));
}

QString resolve(const QString &text, const DriveTable &drives)
{
    const Parsed parsed = parse(text);
    if (!drives.drive(parsed.letter))
        throw failureFor(FailureNumber::DeviceUnavailable);
    if (parsed.rooted)
        return format(parsed.letter, parsed.parts);
    Parsed current = parse(drives.currentFolder(parsed.letter));
    current.parts.append(parsed.parts);
    return format(parsed.letter, current.parts);
}

QString toNative(const QString &text, const DriveTable &drives)
{
    const Parsed parsed = parse(resolve(text, drives));
    const QString root = drives.drive(parsed.letter)->root;
    if (parsed.parts.isEmpty())
        return root;
    const QString base = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return base + parsed.parts.join(QLatin1Char('/'));
}

QString fromNative(const QString &nativePath, const DriveTable &drives)
{
    const QString clean = QDir::cleanPath(nativePath);
    const QChar letter = drives.letterHolding(clean);
    const QString root = drives.drive(letter)->root;
    const QString relative = clean.mid(root.size());
    QStringList parts;
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!isRepresentable(part))
            return {};
        parts.append(part);
    }
    return format(letter, parts);
}

bool isRepresentable(const QString &nativeName)
{
    return !nativeName.contains(QLatin1Char('\\'));
}

QString folderPrefix(const QString &folder)
{
    return folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('\\');
}

QString fileName(const QString &drivePath)
{
    const qsizetype cut = drivePath.lastIndexOf(QLatin1Char('\\'));
    return cut < 0 ? QString() : drivePath.mid(cut + 1);
}

} // namespace DrivePath
