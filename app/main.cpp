#include "app/Copieur.h"
#include "copy/LinuxFileOperations.h"
#include "copy/StopSignals.h"
#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "devices/UDisksClient.h"
#include "drives/DriveTable.h"
#include "ui/MessageBox.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    StopSignals stopSignals;
    QApplication::setApplicationName(MessageBox::applicationTitle());
    QApplication::setDesktopFileName(QStringLiteral("essaimeur"));

    DriveTable drives;
    MountWatcher watcher(drives);
    const bool watching = watcher.start(); // keys already there get their letters, not a slot
    LinuxFileOperations files;
    QtMessageBox messages;
    UDisksClient disks;
    disks.start();

    Copieur window({drives, messages, [&drives] { return std::make_unique<LinuxFileSystemObject>(drives); }, files,
                    &watcher, &disks});
    messages.setParent(&window);
    QObject::connect(&stopSignals, &StopSignals::received, &window, &Copieur::StopSignals_Received);
    window.show();
    if (!watching)
        messages.show(MountWatcher::cannotWatchMessage(), 16);
    return app.exec();
}
