#pragma once

#include <QChar>
#include <QComboBox>
#include <QString>

#include <functional>

class DriveTable;

// The classic drive list: one entry "x: [label]" per lettered drive, one current.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveList(DriveTable &drives, QWidget *parent = nullptr);

    QString drive() const; ///< the current entry's text, "e: [LABEL]" or "c:"
    // Only the first character counts. Throws Failure 68 for no letter or no such drive;
    // a change of drive runs the change handler before returning.
    void setDrive(const QString &text);

    void setChangeHandler(std::function<void()> handler);

    static QString entryText(QChar letter, const QString &label);

private:
    void rebuild();
    void pick(int index);
    bool isShown(QChar letter) const; ///< the letter, and still the volume it held when picked
    void makeCurrent(QChar letter);

    DriveTable &m_drives;
    QChar m_letter;
    quint64 m_serial = 0; ///< which volume of the letter: another one given it since is another drive
    QString m_text;       ///< kept for a current drive that has left the table
    std::function<void()> m_changeHandler;
};
