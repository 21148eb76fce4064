#pragma once

#include <QString>

class QWidget;

// The modal message box, behind an interface so that tests can answer it.
// Style 0 is an OK button without icon, 16 an OK button with the critical icon;
// with no title the application's title is used.
class MessageBox
{
public:
    virtual ~MessageBox() = default;
    virtual void show(const QString &prompt, int style, const QString &title = {}) = 0;

    static QString applicationTitle() { return QStringLiteral("EssaimeurMV"); }
};

class QtMessageBox : public MessageBox
{
public:
    explicit QtMessageBox(QWidget *parent = nullptr)
        : m_parent(parent)
    { }
    void setParent(QWidget *parent) { m_parent = parent; }
    void show(const QString &prompt, int style, const QString &title = {}) override;

private:
    QWidget *m_parent = nullptr;
};
