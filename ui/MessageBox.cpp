#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox *openBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &prompt)
{
    auto *box = new QMessageBox(icon, title.isEmpty() ? MessageBox::applicationTitle() : title, prompt,
                                QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

} // namespace

void QtMessageBox::show(const QString &prompt, int style, const QString &title)
{
    constexpr int CriticalStyle = 16;
    QMessageBox *box = openBox(m_parent, (style & 0x70) == CriticalStyle ? QMessageBox::Critical : QMessageBox::NoIcon,
                               title, prompt);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
}

void QtMessageBox::ask(const QString &prompt, std::function<void(bool yes)> answer)
{
    QMessageBox *box = openBox(m_parent, QMessageBox::Question, {}, prompt);
    QPushButton *yes = box->addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    box->setDefaultButton(box->addButton(QStringLiteral("&Non"), QMessageBox::NoRole));
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, yes, answer = std::move(answer)] { answer(box->clickedButton() == yes); });
    box->open();
}
