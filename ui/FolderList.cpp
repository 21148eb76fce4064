#include "ui/FolderList.h"

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "drives/FolderReading.h"
#include "ui/EventGuard.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

// Rows: the root, each ancestor and the open folder, then the subfolders.
class FolderListModel : public QAbstractListModel
{
public:
    static constexpr int LevelRole = Qt::UserRole;

    FolderListModel(QIcon open, QIcon closed, QObject *parent)
        : QAbstractListModel(parent)
        , m_open(std::move(open))
        , m_closed(std::move(closed))
    { }

    void display(QChar letter, const QStringList &parts, const QStringList &subfolders)
    {
        beginResetModel();
        m_letter = letter;
        m_parts = parts;
        m_subfolders = subfolders;
        endResetModel();
    }

    int openRows() const { return int(m_parts.size()) + 1; }
    int subfolderCount() const { return int(m_subfolders.size()); }
    const QStringList &subfolders() const { return m_subfolders; }

    QString pathOfRow(int row) const
    {
        if (row < 0 || row >= rowCount())
            return {};
        if (row < openRows())
            return DrivePath::format(m_letter, m_parts.mid(0, row));
        return DrivePath::format(m_letter, m_parts + QStringList{m_subfolders.at(row - openRows())});
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : openRows() + subfolderCount();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const int row = index.row();
        if (!index.isValid() || row >= rowCount())
            return {};
        const bool open = row < openRows();
        switch (role) {
        case Qt::DisplayRole:
            if (row == 0)
                return QString(QString(m_letter.toLower()) + QLatin1String(":\\"));
            return open ? m_parts.at(row - 1) : m_subfolders.at(row - openRows());
        case Qt::DecorationRole: return open ? m_open : m_closed;
        case LevelRole: return open ? row : openRows();
        default: return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
    }

private:
    QIcon m_open;
    QIcon m_closed;
    QChar m_letter = QLatin1Char('C');
    QStringList m_parts;
    QStringList m_subfolders;
};

namespace {

constexpr qsizetype ManyRows = 2000;

// Shifts each entry right by its depth, as the classic list draws its tree.
class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + indent(option, index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
    }

private:
    static int indent(const QStyleOptionViewItem &option, const QModelIndex &index)
    {
        return index.data(FolderListModel::LevelRole).toInt() * option.fontMetrics.averageCharWidth() * 2;
    }
};

} // namespace

FolderList::FolderList(DriveTable &drives, QWidget *parent)
    : QListView(parent)
    , m_drives(drives)
    , m_model(new FolderListModel(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                  style()->standardIcon(QStyle::SP_DirClosedIcon), this))
{
    setModel(m_model);
    setItemDelegate(new IndentDelegate(this));
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    // The slot lists are narrow: a long name is cut short rather than scrolled sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideRight);
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { openEntry(index.row() - ancestorRows()); });

    // The working folder, or the root of its drive when that folder cannot be shown.
    const QString working = drives.startFolder();
    const QString root = DrivePath::format(working.front(), {});
    for (const QString &start : {working, root}) {
        try {
            display(start, FolderReading::readDrivePath(start, drives, FolderReading::Kind::Folders), -1);
            return;
        } catch (const Failure &) {
        }
    }
    display(root, {}, -1);
}

QString FolderList::path() const
{
    return m_path;
}

void FolderList::setPath(const QString &text)
{
    const QString resolved = DrivePath::resolve(text, m_drives);
    if (resolved == m_path && m_drives.serialOf(resolved.front()) == m_serial)
        return;
    const QStringList subfolders = FolderReading::readDrivePath(resolved, m_drives, FolderReading::Kind::Folders);
    display(resolved, subfolders, -1);
    if (m_changeHandler)
        m_changeHandler();
}

int FolderList::listIndex() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() - ancestorRows() : -1;
}

int FolderList::listCount() const
{
    return m_model->subfolderCount();
}

QString FolderList::list(int n) const
{
    return m_model->pathOfRow(n + ancestorRows());
}

void FolderList::setListIndex(int n)
{
    const int row = n + ancestorRows();
    if (row >= 0 && row < m_model->rowCount())
        setCurrentIndex(m_model->index(row));
}

void FolderList::setChangeHandler(std::function<void()> handler)
{
    m_changeHandler = std::move(handler);
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openEntry(listIndex());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void FolderList::display(const QString &path, const QStringList &subfolders, int current)
{
    const DrivePath::Parsed parsed = DrivePath::parse(path);
    m_path = path;
    m_serial = m_drives.serialOf(parsed.letter);
    // Sizing each row lets long names scroll sideways, but costs too much for a
    // folder of thousands of subfolders: those rows all take the first row's size.
    setUniformItemSizes(subfolders.size() > ManyRows);
    m_model->display(parsed.letter, parsed.parts, subfolders);
    setListIndex(current);
    scrollTo(currentIndex());
}

void FolderList::openEntry(int n)
{
    const QString target = list(n);
    if (target.isEmpty())
        return;
    runUserEvent(this, [this, target] { setPath(target); });
}

int FolderList::ancestorRows() const
{
    return m_model->openRows();
}
