#include "app/Copieur.h"
#include "copy/LinuxFileOperations.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "devices/UDisksClient.h"
#include "drives/DriveTable.h"
#include "support/Mounts.h"
#include "support/ScriptedMessages.h"
#include "support/TempTree.h"
#include "ui/Label.h"

#include <QLineEdit>

namespace {

using Slots = QStringList;

int mountsOf(const QString &loop)
{
    return int(TempTree::read("/proc/self/mountinfo").count(" " + loop.toUtf8() + " "));
}

// The window wired as the program wires it, beside the disk service that with-udisks.sh starts;
// keys are ext4 images on loop devices, labelled for that service's rules.
struct Desktop
{
    Desktop()
    {
        // First, as the program does: the keys already there get letters, not slots.
        watcher.start();
        disks.start();
        window = std::make_unique<Copieur>(
            Copieur::Services{drives, messages, [this] { return std::make_unique<LinuxFileSystemObject>(drives); },
                              files, &watcher, &disks});
    }
    ~Desktop()
    {
        for (const QString &loop : std::as_const(loops))
            Mounts::run("sh", {"-c", "umount -A $0; losetup -d $0", loop});
    }
    // Attaches a key, unmounted (read-only with "-fr"); its loop device.
    QString attach(const QString &label, const QString &how = "-f")
    {
        Mounts::run("mkfs.ext4", {"-qF", "-L", label, tree.path(label), "8M"});
        return loops.emplace_back(Mounts::output("losetup", {how, "--show", tree.path(label)}).value_or(""));
    }
    // Attaches a key and waits until the program has mounted it into a slot; the checks that follow tell if not.
    QString plug(const QString &label, const QString &how = "-f")
    {
        const QString loop = attach(label, how);
        (void)QTest::qWaitFor([&] { return keys().contains(label); }, 5000);
        return loop;
    }
    // The labels of the keys in the slots.
    Slots keys() const
    {
        Slots labels;
        for (int i = FirstSlot; i <= LastSlot; ++i)
            if (window->bas().Occupee[i])
                labels << drives.drive(window->bas().Lecteur[i][0])->label;
        return labels;
    }
    QString caption(int slot) const { return window->controls().Controle[slot]->caption(); }
    TempTree tree;
    DriveTable drives;
    MountWatcher watcher{drives};
    LinuxFileOperations files;
    ScriptedMessages messages;
    UDisksClient disks;
    QStringList loops;
    std::unique_ptr<Copieur> window;
};

} // namespace

class TestDesktopKeys : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // A key is mounted by the desktop or, two seconds on, by the program: once, unless marked to be left alone.
    void arrivingKey_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("byDesktop");
        QTest::addColumn<int>("mounts");
        QTest::addColumn<Slots>("keys");
        QTest::newRow("a key attached unmounted is mounted into the first free slot")
            << "AUTO1" << false << 1 << Slots{"AUTO1"};
        QTest::newRow("a key the desktop mounts first is mounted once") << "AUTO2" << true << 1 << Slots{"AUTO2"};
        QTest::newRow("a key marked to be ignored is left unmounted") << "AUTOIGN" << false << 0 << Slots{};
    }
    void arrivingKey()
    {
        QFETCH(QString, label);
        QFETCH(bool, byDesktop);
        QFETCH(int, mounts);
        QFETCH(Slots, keys);
        Desktop d;
        const QString loop = d.attach(label);
        // As the desktop's automounter does, once the service knows the key.
        if (byDesktop)
            QVERIFY(QTest::qWaitFor([&] { return Mounts::run("udisksctl", {"mount", "-b", loop}); }, 1500));
        // Three seconds: past the program's two, what it should mount, and only that, is mounted.
        (void)QTest::qWaitFor([&] { return mountsOf(loop) > mounts; }, 3000);
        QCOMPARE(mountsOf(loop), mounts);
        QCOMPARE(d.keys(), keys);
    }

    // The desktop may be mounting it: the program gives it two seconds first.
    void theDesktopHasTwoSeconds()
    {
        Desktop d;
        const QString loop = d.attach("AUTOWAIT");
        QTest::qWait(1000);
        QCOMPARE(mountsOf(loop), 0);
    }

    // The keys whose copy failed stay mounted, in their red slot, for another try.
    void ejectingTheFinishedKeys()
    {
        Desktop d;
        const QString readOnly = d.plug("AUTORO", "-fr");
        d.plug("AUTOA");
        d.plug("AUTOB");
        d.window->bas().FichSource = "C:" + d.tree.createFile("cours.txt").replace('/', '\\');
        d.window->LanceCopie_Click();
        QTRY_COMPARE_WITH_TIMEOUT(d.window->isCopying(), false, 10000);
        QCOMPARE(d.caption(2), "Terminé");
        // "Éjecter toutes les clés terminées"
        d.window->MenuCle(1)[1].action();
        QTRY_COMPARE_WITH_TIMEOUT(d.caption(2), "inactif", 5000);
        QCOMPARE(d.caption(3), "inactif");
        QCOMPARE(d.caption(1), "Échec");
        QCOMPARE(mountsOf(readOnly), 1);
    }

    // A key in use is not ejected: it keeps its slot, and the window says why.
    void busyKeyStays()
    {
        Desktop d;
        d.plug("AUTOBUSY");
        // A program working in the key's root folder.
        QProcess user;
        user.setWorkingDirectory(d.drives.drive('D')->root);
        user.start("sleep", {"60"});
        QVERIFY(user.waitForStarted());
        // "Éjecter cette clé", offered with the disk service there
        QCOMPARE(d.window->MenuCle(1)[0].enabled, true);
        d.window->MenuCle(1)[0].action();
        QTRY_COMPARE_WITH_TIMEOUT(d.window->controls().Text1->text().section("Cause :\t", 1),
                                  "la clé est occupée : un programme y a un fichier ou un dossier ouvert", 5000);
        QCOMPARE(d.keys(), Slots{"AUTOBUSY"});
        user.close();
    }
};

QTEST_MAIN(TestDesktopKeys)
#include "test_desktop_keys.moc"
