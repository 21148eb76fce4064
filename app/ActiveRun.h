#pragma once

#include "copy/ParallelRun.h"

#include <QObject>

class NotificationSource;
class QWidget;

// A copy run as the window lives it. While it exists the window drops the operator's
// input (but for one control, the way out), and key notifications wait; the window
// asks before it closes. Its end, however the run ended, gives all of it back.
class ActiveRun : public QObject
{
public:
    ActiveRun(QWidget &window, QWidget *wayOut, NotificationSource *notifications, FileOperations &files,
              ParallelRun::Callbacks callbacks);
    ~ActiveRun() override; ///< waits for the workers, which have ended or been asked to stop

    void start(const QList<SlotJob> &jobs) { m_workers->start(jobs); }
    void stop() { m_workers->stop(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget &m_window;
    QWidget *m_wayOut;
    NotificationSource *m_notifications;
    std::unique_ptr<ParallelRun> m_workers;
};
