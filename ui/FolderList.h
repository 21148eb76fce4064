#pragma once

#include <QListView>
#include <QString>

#include <functional>

class DriveTable;
class FolderListModel;

// The classic folder list: the open folder under its ancestors, its subfolders
// below. Entry n is -1 for the open folder, -2 its parent..., 0.. the subfolders.
class FolderList : public QListView
{
    Q_OBJECT
public:
    explicit FolderList(DriveTable &drives, QWidget *parent = nullptr);

    QString path() const; ///< "E:\" for a root, "E:\Docs" below it
    // Opens the folder a drive path or drive text names. Throws Failure 68, 71, 76, 70...
    // and changes nothing then; a change of folder runs the change handler before returning.
    // The same path on a volume given its letter since is another folder.
    void setPath(const QString &text);

    int listIndex() const;
    int listCount() const;
    QString list(int n) const; ///< the entry's full drive path, "" out of range
    void setListIndex(int n);

    void setChangeHandler(std::function<void()> handler);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void display(const QString &path, const QStringList &subfolders, int current);
    void openEntry(int n);
    int ancestorRows() const;

    DriveTable &m_drives;
    FolderListModel *m_model = nullptr;
    QString m_path;
    quint64 m_serial = 0; ///< of the volume the path lies on
    std::function<void()> m_changeHandler;
};
