#include "app/ActiveRun.h"

#include "devices/NotificationSource.h"

#include <QApplication>
#include <QWidget>

ActiveRun::ActiveRun(QWidget &window, QWidget *wayOut, NotificationSource *notifications, FileOperations &files,
                     ParallelRun::Callbacks callbacks)
    : m_window(window)
    , m_wayOut(wayOut)
    , m_notifications(notifications)
    , m_workers(std::make_unique<ParallelRun>(files, std::move(callbacks)))
{
    qApp->installEventFilter(this);
    if (m_notifications)
        m_notifications->hold();
}

ActiveRun::~ActiveRun()
{
    m_workers.reset();
    qApp->removeEventFilter(this);
    if (m_notifications)
        m_notifications->release();
}

// Input made during a run is dropped: delivered later, a click would act on the
// finished run's window, and a held Return would start run after run.
bool ActiveRun::eventFilter(QObject *watched, QEvent *event)
{
    if (!watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (widget->window() != &m_window || (m_wayOut && (widget == m_wayOut || m_wayOut->isAncestorOf(widget))))
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Drop: return true;
    default: return false;
    }
}
