#include "app/ActiveRun.h"
#include "app/Copieur.h"

#include "ui/MessageBox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// How long the copies have to stop and remove their temporary files before the
// program ends without them.
constexpr int StopGraceMs = 1000;

} // namespace

void Copieur::Quitter_Click()
{
    if (m_run)
        askToStopAndQuit();
    else
        QCoreApplication::quit();
}

void Copieur::closeEvent(QCloseEvent *event)
{
    // The workers write to the keys until the run ends: the operator says whether to stop them.
    if (!m_run)
        return QWidget::closeEvent(event);
    event->ignore();
    askToStopAndQuit();
}

void Copieur::StopSignals_Received()
{
    stopAndQuit();
}

void Copieur::askToStopAndQuit()
{
    m_services.messages.ask(QStringLiteral("Des copies sont en cours. Les arrêter et quitter ?"), [this](bool yes) {
        if (yes)
            stopAndQuit();
    });
}

// The run's end quits once every worker has stopped. A worker blocked in the kernel by
// a key that hangs can be neither stopped nor joined: the process ends around it, and a
// later copy into that folder removes the temporary file it leaves.
void Copieur::stopAndQuit()
{
    if (!m_run)
        return QCoreApplication::quit();
    m_quitting = true;
    m_run->stop();
    QTimer::singleShot(StopGraceMs, this, [this] {
        if (!m_run)
            return;
        std::fflush(nullptr);
        std::_Exit(EXIT_SUCCESS);
    });
}
