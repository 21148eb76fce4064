#include "ui/FileList.h"

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "drives/FolderReading.h"
#include "ui/EventGuard.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStringListModel>

#include <algorithm>
#include <utility>

namespace {

QStringList readFiles(const QString &path, const DriveTable &drives)
{
    return FolderReading::readDrivePath(DrivePath::resolve(path, drives), drives, FolderReading::Kind::Files);
}

} // namespace

FileList::FileList(DriveTable &drives, QWidget *parent)
    : QListView(parent)
    , m_drives(drives)
    , m_model(new QStringListModel(this))
{
    setModel(m_model);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    // One height for every row: laying out a hundred thousand names stays cheap.
    setUniformItemSizes(true);
    setPath(drives.startFolder());
}

QString FileList::path() const
{
    return m_path;
}

void FileList::setPath(const QString &text)
{
    try {
        m_path = DrivePath::resolve(text, m_drives);
    } catch (const Failure &) {
        m_path = text;
    }
    QStringList names;
    try {
        names = readFiles(m_path, m_drives);
    } catch (const Failure &) {
    }
    display(names, -1);
}

void FileList::showRead(const QStringList &names)
{
    const QString kept = list(listIndex());
    int current = -1;
    if (!kept.isEmpty()) {
        const auto at = std::lower_bound(names.cbegin(), names.cend(), kept, FolderReading::lessByName);
        if (at != names.cend() && *at == kept)
            current = int(at - names.cbegin());
    }
    display(names, current);
}

int FileList::listIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

int FileList::listCount() const
{
    return m_model->rowCount();
}

QString FileList::list(int n) const
{
    return n >= 0 && n < m_model->rowCount() ? m_model->index(n).data().toString() : QString();
}

void FileList::setListIndex(int n)
{
    if (n == -1)
        selectionModel()->clear();
    else if (n >= 0 && n < m_model->rowCount())
        setCurrentIndex(m_model->index(n));
}

void FileList::setClickHandler(std::function<void()> handler)
{
    m_clickHandler = std::move(handler);
}

void FileList::mouseReleaseEvent(QMouseEvent *event)
{
    const QModelIndex at = indexAt(event->position().toPoint());
    QListView::mouseReleaseEvent(event);
    // The release that ends a double click would report the same pick twice.
    if (std::exchange(m_releaseEndsDoubleClick, false))
        return;
    if (event->button() == Qt::LeftButton && at.isValid() && at.row() == listIndex())
        raiseClick();
}

void FileList::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_releaseEndsDoubleClick = true;
    QListView::mouseDoubleClickEvent(event);
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    const int before = listIndex();
    QListView::keyPressEvent(event);
    const int after = listIndex();
    if (after != before && after >= 0)
        raiseClick();
}

void FileList::display(const QStringList &names, int current)
{
    m_model->setStringList(names);
    setListIndex(current);
    if (current >= 0)
        scrollTo(currentIndex());
}

void FileList::raiseClick()
{
    if (m_clickHandler)
        runUserEvent(this, m_clickHandler);
}
