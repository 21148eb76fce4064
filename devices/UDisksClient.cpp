#include "devices/UDisksClient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTimer>

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");
const QString Root = QStringLiteral("/org/freedesktop/UDisks2");
const QString Manager = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString ManagerInterface = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString BlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString FilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString DriveInterface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString Properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString ErrorPrefix = QStringLiteral("org.freedesktop.UDisks2.Error.");

// The desktop's own automounter may be mounting it meanwhile: never mount twice.
constexpr int MountDelayMs = 2000;

using Interfaces = QMap<QString, QVariantMap>;

QDBusMessage method(const QString &object, const QString &interface, const QString &name, const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, object, interface, name);
    message.setArguments(args);
    return message;
}

QDBusMessage getProperty(const QString &object, const QString &interface, const QString &name)
{
    return method(object, Properties, QStringLiteral("Get"), {interface, name});
}

QVariant propertyValue(const QDBusMessage &reply)
{
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

bool failed(const QDBusMessage &reply)
{
    return reply.type() != QDBusMessage::ReplyMessage;
}

QString causeOf(const QDBusMessage &refusal)
{
    return udisksFailureCause(refusal.errorName(), refusal.errorMessage());
}

// A device's path as the service gives it: bytes ending with a NUL.
QString devicePath(const QVariant &bytes)
{
    QByteArray path = bytes.toByteArray();
    if (path.endsWith('\0'))
        path.chop(1);
    return QString::fromLocal8Bit(path);
}

} // namespace

UDisksClient::UDisksClient(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    qDBusRegisterMetaType<Interfaces>();
}

void UDisksClient::start()
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Root, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                  QStringLiteral("InterfacesAdded"), this, SLOT(onInterfacesAdded(QDBusMessage)));
    call(getProperty(Manager, ManagerInterface, QStringLiteral("Version")),
         [this](const QDBusMessage &reply) { m_available = !failed(reply); });
}

void UDisksClient::onInterfacesAdded(const QDBusMessage &message)
{
    const QString object = message.arguments().value(0).value<QDBusObjectPath>().path();
    if (qdbus_cast<Interfaces>(message.arguments().value(1)).contains(FilesystemInterface))
        QTimer::singleShot(MountDelayMs, this, [this, object] { mountIfStillUnmounted(object); });
}

void UDisksClient::mountIfStillUnmounted(const QString &object)
{
    call(method(object, Properties, QStringLiteral("GetAll"), {BlockInterface}),
         [this, object](const QDBusMessage &reply) {
             const QVariantMap block = qdbus_cast<QVariantMap>(reply.arguments().value(0));
             if (failed(reply) || !block.value(QStringLiteral("HintAuto")).toBool()
                 || block.value(QStringLiteral("HintIgnore")).toBool()
                 || block.value(QStringLiteral("HintSystem")).toBool())
                 return;
             const QString device = devicePath(block.value(QStringLiteral("PreferredDevice")));
             call(getProperty(object, FilesystemInterface, QStringLiteral("MountPoints")),
                  [this, object, device](const QDBusMessage &reply) {
                      if (failed(reply) || !qdbus_cast<QByteArrayList>(propertyValue(reply)).isEmpty())
                          return;
                      call(method(object, FilesystemInterface, QStringLiteral("Mount"), {QVariantMap()}),
                           [this, device](const QDBusMessage &reply) {
                               if (failed(reply) && reply.errorName() != ErrorPrefix + QStringLiteral("AlreadyMounted"))
                                   emit mountFailed(device, causeOf(reply));
                           });
                  });
         });
}

void UDisksClient::eject(const QString &device)
{
    const QVariantMap path{{QStringLiteral("path"), device}};
    call(method(Manager, ManagerInterface, QStringLiteral("ResolveDevice"), {path, QVariantMap()}),
         [this, device](const QDBusMessage &reply) {
             const QList<QDBusObjectPath> objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
             if (failed(reply))
                 return emit ejectFailed(device, causeOf(reply));
             if (objects.isEmpty())
                 return emit ejectFailed(device, QStringLiteral("le service de disques ne la connaît pas"));
             const QString object = objects.first().path();
             call(method(object, FilesystemInterface, QStringLiteral("Unmount"), {QVariantMap()}),
                  [this, device, object](const QDBusMessage &reply) {
                      if (failed(reply))
                          return emit ejectFailed(device, causeOf(reply));
                      call(getProperty(object, BlockInterface, QStringLiteral("Drive")),
                           [this](const QDBusMessage &reply) {
                               const QString drive = propertyValue(reply).value<QDBusObjectPath>().path();
                               // A drive that cannot be powered off, or has another volume in use, stays on: the key is
                               // safe to pull anyway.
                               if (!failed(reply) && drive != u"/")
                                   call(method(drive, DriveInterface, QStringLiteral("PowerOff"), {QVariantMap()}), {});
                           });
                  });
         });
}

void UDisksClient::call(const QDBusMessage &message, std::function<void(const QDBusMessage &reply)> then)
{
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, then = std::move(then)] {
        if (then)
            then(watcher->reply());
        watcher->deleteLater();
    });
}

QString udisksFailureCause(const QString &errorName, const QString &errorMessage)
{
    if (errorName.startsWith(ErrorPrefix + QStringLiteral("NotAuthorized")))
        return QStringLiteral("le système ne l'autorise pas");
    if (errorName == ErrorPrefix + QStringLiteral("DeviceBusy") || errorMessage.contains(u"target is busy"))
        return QStringLiteral("la clé est occupée : un programme y a un fichier ou un dossier ouvert");
    if (errorMessage.contains(u"wrong fs type") || errorMessage.contains(u"superblock")
        || errorMessage.contains(u"unknown filesystem"))
        return QStringLiteral("le volume est endommagé ou d'un format inconnu");
    if (errorName.startsWith(QStringLiteral("org.freedesktop.DBus.Error.")))
        return QStringLiteral("le service de disques ne répond pas");
    return QStringLiteral("le service de disques a refusé (%1)").arg(errorMessage);
}
