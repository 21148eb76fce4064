#pragma once

#include <QListView>
#include <QString>

#include <functional>

class DriveTable;
class QStringListModel;

// The classic file list: the visible files of one folder, sorted by name.
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(DriveTable &drives, QWidget *parent = nullptr);

    QString path() const;
    // Never throws: a folder that cannot be read shows no file, its path is kept.
    void setPath(const QString &text);
    // Shows what was read elsewhere of the same folder, keeping the current file by name.
    void showRead(const QStringList &names);

    int listIndex() const; ///< -1 when no file is current
    int listCount() const;
    QString list(int n) const; ///< the file's name without folder, "" out of range
    void setListIndex(int n);

    void setClickHandler(std::function<void()> handler);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void display(const QStringList &names, int current);
    void raiseClick();

    DriveTable &m_drives;
    QStringListModel *m_model = nullptr;
    QString m_path;
    bool m_releaseEndsDoubleClick = false;
    std::function<void()> m_clickHandler;
};
