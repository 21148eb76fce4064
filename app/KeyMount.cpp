#include "app/Copieur.h"

#include "devices/DeviceReport.h"

#include <QLineEdit>

// The disk service could not mount a key that arrived unmounted: it gets no slot, and is
// not tried again.
void Copieur::UDisks_MountFailed(const QString &device, const QString &cause)
{
    m_controls.Text1->setText(DeviceReport::mountFailure(device, cause));
    m_controls.Text1->setCursorPosition(0);
}
