#include "ui/DriveList.h"

#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "ui/EventGuard.h"

#include <QSignalBlocker>

DriveList::DriveList(DriveTable &drives, QWidget *parent)
    : QComboBox(parent)
    , m_drives(drives)
    , m_letter(drives.startFolder().front())
    , m_serial(drives.serialOf(m_letter))
{
    setEditable(false);
    rebuild();
    connect(&m_drives, &DriveTable::changed, this, &DriveList::rebuild);
    connect(this, &QComboBox::activated, this, &DriveList::pick);
}

QString DriveList::drive() const
{
    return m_text;
}

void DriveList::setDrive(const QString &text)
{
    if (text.isEmpty())
        throw failureFor(FailureNumber::DeviceUnavailable);
    const QChar letter = text.front().toUpper();
    if (!m_drives.drive(letter))
        throw failureFor(FailureNumber::DeviceUnavailable);
    if (isShown(letter))
        return;
    makeCurrent(letter);
    if (m_changeHandler)
        m_changeHandler();
}

void DriveList::setChangeHandler(std::function<void()> handler)
{
    m_changeHandler = std::move(handler);
}

QString DriveList::entryText(QChar letter, const QString &label)
{
    const QString name = QString(letter.toLower()) + QLatin1Char(':');
    if (label.isEmpty())
        return name;
    return name + QLatin1String(" [") + label + QLatin1Char(']');
}

void DriveList::rebuild()
{
    const QList<Drive> drives = m_drives.drives();
    const auto current = m_drives.drive(m_letter);
    if (current)
        m_text = entryText(current->letter, current->label);

    // The entries are rebuilt whole; no operator's pick is involved.
    const QSignalBlocker blocker(this);
    clear();
    // A current drive that has just left the table keeps its entry until it is no
    // longer current, so that nothing changes behind the operator's back.
    bool vanishedPlaced = current.has_value();
    for (const Drive &d : drives) {
        if (!vanishedPlaced && d.letter > m_letter) {
            addItem(m_text, QVariant(m_letter));
            vanishedPlaced = true;
        }
        addItem(entryText(d.letter, d.label), QVariant(d.letter));
    }
    if (!vanishedPlaced)
        addItem(m_text, QVariant(m_letter));
    setCurrentIndex(findData(QVariant(m_letter)));
}

void DriveList::pick(int index)
{
    const QChar letter = itemData(index).toChar();
    if (letter.isNull() || isShown(letter))
        return;
    makeCurrent(letter);
    if (m_changeHandler)
        runUserEvent(this, m_changeHandler);
}

bool DriveList::isShown(QChar letter) const
{
    return letter == m_letter && m_drives.serialOf(letter) == m_serial;
}

void DriveList::makeCurrent(QChar letter)
{
    const int index = findData(QVariant(letter));
    m_letter = letter;
    m_serial = m_drives.serialOf(letter);
    m_text = itemText(index);
    setCurrentIndex(index);
}
