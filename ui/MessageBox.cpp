#include "ui/MessageBox.h"

#include <QMessageBox>

void QtMessageBox::show(const QString &prompt, int style, const QString &title)
{
    constexpr int CriticalStyle = 16;
    QMessageBox box(m_parent);
    box.setIcon((style & 0x70) == CriticalStyle ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    box.setText(prompt);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
