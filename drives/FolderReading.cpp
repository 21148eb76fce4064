#include "drives/FolderReading.h"

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QByteArrayView>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FolderReading {

namespace {

bool isWanted(int dirfd, const dirent *entry, Kind kind)
{
    const unsigned char type = entry->d_type;
    if (type == DT_DIR)
        return kind == Kind::Folders;
    if (type == DT_REG)
        return kind == Kind::Files;
    if (type != DT_LNK && type != DT_UNKNOWN)
        return false;
    // Follows the link: a link counts as what it points to, a broken one as nothing.
    struct stat target
    { };
    if (fstatat(dirfd, entry->d_name, &target, 0) != 0)
        return false;
    return kind == Kind::Folders ? S_ISDIR(target.st_mode) : S_ISREG(target.st_mode);
}

// A folder stream that closes itself; null, with errno set, when the folder cannot be opened.
using Folder = std::unique_ptr<DIR, int (*)(DIR *)>;
Folder openFolder(const QString &nativeFolder)
{
    return Folder(::opendir(QFile::encodeName(nativeFolder).constData()), ::closedir);
}

bool canOpenFolder(const QString &nativeFolder)
{
    return openFolder(nativeFolder) != nullptr;
}

// Folds a name as lessByName does, appending it to one buffer.
void appendFolded(std::u16string &buffer, const QString &name)
{
    const bool ascii = std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii) {
        const QString folded = name.toCaseFolded();
        buffer.append(reinterpret_cast<const char16_t *>(folded.utf16()), size_t(folded.size()));
        return;
    }
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        buffer.push_back(u >= u'A' && u <= u'Z' ? char16_t(u + (u'a' - u'A')) : u);
    }
}

} // namespace

bool isAscii(QByteArrayView name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

Names read(const QString &nativeFolder, Kind kind)
{
    Names result;
    const Folder dir = openFolder(nativeFolder);
    if (!dir) {
        result.error = errno;
        return result;
    }
    const int fd = ::dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir.get());
        if (!entry) {
            result.error = errno;
            break;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' || std::strchr(name, '\\'))
            continue;
        if (!isWanted(fd, entry, kind))
            continue;
        const QByteArrayView bytes(name, qsizetype(std::strlen(name)));
        QString decoded = QString::fromUtf8(bytes);
        // A name that is no valid UTF-8 would not read back as itself.
        if (!isAscii(bytes) && decoded.toUtf8() != bytes)
            continue;
        result.names.append(std::move(decoded));
    }
    if (result.error != 0)
        result.names.clear();
    else
        sortNames(result.names);
    return result;
}

bool lessByName(const QString &a, const QString &b)
{
    const int folded = a.toCaseFolded().compare(b.toCaseFolded());
    return folded != 0 ? folded < 0 : a < b;
}

void sortNames(QStringList &names)
{
    // Each name is folded once, into one buffer that stays in cache, rather than
    // at each of the n log n comparisons.
    struct Key
    {
        size_t offset;
        size_t length;
        qsizetype index;
    };
    size_t total = 0;
    for (const QString &name : std::as_const(names))
        total += size_t(name.size());
    std::u16string folded;
    folded.reserve(total);
    std::vector<Key> keys;
    keys.reserve(size_t(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const size_t offset = folded.size();
        appendFolded(folded, names.at(i));
        keys.push_back(Key{offset, folded.size() - offset, i});
    }
    const std::u16string_view all(folded);
    std::sort(keys.begin(), keys.end(), [&](const Key &a, const Key &b) {
        const int order = all.substr(a.offset, a.length).compare(all.substr(b.offset, b.length));
        return order != 0 ? order < 0 : names.at(a.index) < names.at(b.index);
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const Key &key : keys)
        sorted.append(std::move(names[key.index]));
    names = std::move(sorted);
}

int failureNumber(int folderErrno, bool rootListable)
{
    if (!rootListable)
        return FailureNumber::DiskNotReady;
    switch (folderErrno) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP: return FailureNumber::PathNotFound;
    default: return failureNumberForErrno(folderErrno);
    }
}

QStringList readOrThrow(const QString &nativeFolder, const QString &nativeRoot, Kind kind)
{
    Names listing = read(nativeFolder, kind);
    if (listing.error == 0)
        return std::move(listing.names);
    throw failureFor(failureNumber(listing.error, canOpenFolder(nativeRoot)));
}

QStringList readDrivePath(const QString &drivePath, const DriveTable &drives, Kind kind)
{
    const QString native = DrivePath::toNative(drivePath, drives); // throws 68 for a letter with no drive
    return readOrThrow(native, drives.drive(DrivePath::parse(drivePath).letter)->root, kind);
}

} // namespace FolderReading
