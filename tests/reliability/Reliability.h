#pragma once

#include "copy/LinuxFileOperations.h"
#include "support/WindowChecks.h"

#include <QCryptographicHash>

#include <atomic>
#include <mutex>

#include <sys/mount.h> // dirent.h and sys/stat.h come with copy/Syscalls.h

namespace Reliability {

using Entries = QMap<QByteArray, QByteArray>;

// How snapshot() records a file holding `content`.
inline QByteArray fileEntry(const QByteArray &content)
{
    return "f " + QByteArray::number(content.size()) + ' ' + QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex();
}

// Every entry below a folder, by relative native path (bytes, so that names that are not UTF-8
// stay apart): "d" folder, fileEntry() file, "l <target>" link, "o" other. Follows no link.
inline Entries snapshot(const QByteArray &root, const QByteArray &relative = {})
{
    Entries entries;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir((relative.isEmpty() ? root : root + '/' + relative).constData()), closedir);
    while (const dirent *entry = dir ? readdir(dir.get()) : nullptr) {
        const QByteArray name(entry->d_name), rel = relative.isEmpty() ? name : relative + '/' + name, full = root + '/' + rel;
        struct stat status = {};
        char target[4096];
        if (name == "." || name == ".." || lstat(full.constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            entries.insert(snapshot(root, rel));
        entries[rel] = S_ISDIR(status.st_mode) ? "d"
            : S_ISLNK(status.st_mode) ? "l " + QByteArray(target, qMax<ssize_t>(0, readlink(full.constData(), target, sizeof target)))
            : S_ISREG(status.st_mode) ? fileEntry(TempTree::read(QFile::decodeName(full))) : QByteArray("o");
    }
    return entries;
}
inline Entries snapshot(const QString &root) { return snapshot(QFile::encodeName(root)); }

// Whether the run showed exactly the one message expected, or none for "".
inline bool showedOnly(const ScriptedMessages &messages, const QString &expected)
{
    return messages.shown.size() == !expected.isEmpty() && (expected.isEmpty() || messages.shown[0].prompt == expected);
}

// Gives a folder the next letter, with a gigabyte's facts.
inline QChar assignDrive(WindowFixture &fixture, const QString &root, const QString &label = {})
{
    const QChar letter = fixture.drives.assign(root, QStringLiteral("/dev/test"), label);
    fixture.facts[letter] = ScriptedFacts{label, 1024.0 * 1024 * 1024, 512.0 * 1024 * 1024, std::nullopt};
    return letter;
}

// Picks a file in the source list, as the operator's click does.
inline bool pickSource(WindowFixture &fixture, const QString &name) { return pick(fixture, 0, name); }

// Detaches at the end of a test whatever it left mounted, so that its tree can go.
struct MountedDirs : QStringList
{
    ~MountedDirs() { for (const QString &dir : std::as_const(*this)) ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH); }
};

// The real file operations, with hooks (run on the copying thread) that break things while a
// copy runs: before the n-th copy (from 1), and once when it reaches half of its writing.
// The slots copy side by side: the hooks run one at a time.
struct FaultingFiles : LinuxFileOperations
{
    std::function<void(int copy)> beforeCopy = [](int) {}, duringCopy = [](int) {};
    std::atomic<int> copies = 0;
    std::mutex hooks;

    void copyFile(const QString &source, const QString &target, const Progress &progress, const KeyBounds &bounds) override
    {
        const int copy = ++copies;
        std::unique_lock hooking(hooks);
        beforeCopy(copy);
        hooking.unlock();
        bool fired = false;
        LinuxFileOperations::copyFile(source, target, [&](qint64 done, qint64 total) {
            if (progress)
                progress(done, total);
            if (!fired && done * 4 >= total && total > 0) {
                const std::lock_guard hooking(hooks);
                fired = true, duringCopy(copy);
            }
        }, bounds);
    }
};

} // namespace Reliability
