#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;

// The desktop's disk service, UDisks2, on the system bus. A file system that appears
// while the program runs, unmounted and meant for automatic handling (as the desktops'
// own automounters decide), is mounted through it when nobody has mounted it two
// seconds later; the mount table then brings it in as any other key. Keys are ejected
// through it too. Without the service nothing is mounted or ejected, and nothing said.
class UDisksClient : public QObject
{
    Q_OBJECT
public:
    explicit UDisksClient(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);

    // Asks whether the service is there and starts following it.
    void start();
    bool isAvailable() const { return m_available; }

    // Unmounts the volume of `device` (/dev/sdb1), which flushes it, then powers its
    // drive off where the drive allows it. Only a failed unmount is reported.
    void eject(const QString &device);

signals:
    void mountFailed(const QString &device, const QString &cause);
    void ejectFailed(const QString &device, const QString &cause);

private slots:
    void onInterfacesAdded(const QDBusMessage &message);

private:
    void mountIfStillUnmounted(const QString &object);
    void call(const QDBusMessage &message, std::function<void(const QDBusMessage &reply)> then);

    QDBusConnection m_bus;
    bool m_available = false;
};

// The cause of a refusal of the service, in French.
QString udisksFailureCause(const QString &errorName, const QString &errorMessage);
