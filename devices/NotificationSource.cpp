#include "devices/NotificationSource.h"

#include <utility>

NotificationSource::NotificationSource(QObject *parent)
    : QObject(parent)
{ }

void NotificationSource::setHandlers(Handler arrival, Handler removal)
{
    m_arrival = std::move(arrival);
    m_removal = std::move(removal);
}

void NotificationSource::hold()
{
    m_held = true;
}

void NotificationSource::release()
{
    m_held = false;
    drain();
}

void NotificationSource::deliverArrival(const VolumeNotification &n)
{
    deliverAll({Delivery{true, n, {}}});
}

void NotificationSource::deliverRemoval(const VolumeNotification &n, std::function<void()> after)
{
    deliverAll({Delivery{false, n, std::move(after)}});
}

void NotificationSource::deliverAll(QList<Delivery> deliveries)
{
    m_pending.append(std::move(deliveries));
    drain();
}

void NotificationSource::drain()
{
    // A handler that spins a local event loop may cause a delivery: it waits in
    // the queue and this outer loop hands it over once the handler has returned.
    if (m_delivering)
        return;
    m_delivering = true;
    while (!m_held && !m_pending.isEmpty()) {
        const Delivery delivery = m_pending.takeFirst();
        const Handler handler = delivery.arrival ? m_arrival : m_removal;
        try {
            if (handler)
                handler(delivery.notification);
        } catch (...) {
            if (delivery.after)
                delivery.after();
            m_delivering = false;
            throw;
        }
        if (delivery.after)
            delivery.after();
    }
    m_delivering = false;
}
