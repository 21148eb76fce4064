#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// What the window's handlers learn of a volume that came or went: the four
// values of a volume broadcast (device type 2, one bit per letter in the mask).
// The device type of a volume; the key handlers act on no other.
constexpr qint32 VolumeDeviceType = 2;

// The unit mask naming one drive letter: one bit, A the lowest.
inline qint32 unitMaskOf(QChar letter)
{
    return qint32(1u << (letter.toUpper().unicode() - u'A'));
}

struct VolumeNotification
{
    qint32 deviceType = 0;
    qint32 unitMask = 0;
    QString deviceName;
    qint32 deviceData = 0;
};

// Hands volume arrivals and removals to the window's handlers one at a time,
// in order, on the UI thread. A platform watcher derives from it.
class NotificationSource : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(const VolumeNotification &)>;

    explicit NotificationSource(QObject *parent = nullptr);

    void setHandlers(Handler arrival, Handler removal);

    // While held (during a copy run) notifications wait, in order; release() delivers them.
    void hold();
    void release();

protected:
    // Delivers now (on the calling thread, which is the UI thread) or queues while held;
    // `after` runs right after the handler (the watcher frees a removed volume's letter there).
    void deliverArrival(const VolumeNotification &n);
    void deliverRemoval(const VolumeNotification &n, std::function<void()> after = {});

    struct Delivery
    {
        bool arrival = true;
        VolumeNotification notification;
        std::function<void()> after;
    };
    // Queues the whole batch before delivering any of it, so that a batch a handler
    // causes lands after this one instead of in its middle.
    void deliverAll(QList<Delivery> deliveries);

private:
    void drain();

    Handler m_arrival;
    Handler m_removal;
    QList<Delivery> m_pending;
    bool m_held = false;
    bool m_delivering = false;
};
