#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP as a request to stop, delivered by the event loop: the
// handler itself only wakes the loop, so that it never waits on a hung key. A second
// signal ends the process at once. One object per process.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received();

private:
    QSocketNotifier *m_notifier = nullptr;
};
