#pragma once

#include <QString>

#include <functional>

class QWidget;

// The message box, behind an interface so that tests can answer it. It returns at
// once: the box stays, modal to its window, until the operator closes it, and no
// event loop runs inside the caller. Style 0 is an OK button without icon, 16 an OK
// button with the critical icon; with no title the application's title is used.
class MessageBox
{
public:
    virtual ~MessageBox() = default;
    virtual void show(const QString &prompt, int style, const QString &title = {}) = 0;
    // Asks, with the buttons "Oui" and "Non" ("Non" by default); `answer` runs once answered.
    virtual void ask(const QString &prompt, std::function<void(bool yes)> answer) = 0;

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
    void ask(const QString &prompt, std::function<void(bool yes)> answer) override;

private:
    QWidget *m_parent = nullptr;
};
