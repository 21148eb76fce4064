#pragma once

#include <QLabel>

#include <functional>

// A caption on a coloured background, as the status boxes and the window's
// texts are. It can raise a click, and shows a thin progress bar while copying.
class Label : public QLabel
{
    Q_OBJECT
public:
    explicit Label(QWidget *parent = nullptr);

    QString caption() const { return text(); }
    void setCaption(const QString &caption);

    quint32 backColor() const { return m_backColor; }
    void setBackColor(quint32 bgr);

    // Repaints at once, not at the next turn of the event loop.
    void refresh() { repaint(); }

    // A fraction 0..1 draws a bar along the bottom edge; a negative one hides it.
    void setProgress(double fraction);
    double progress() const { return m_progress; }

    void setClickHandler(std::function<void()> handler) { m_click = std::move(handler); }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    quint32 m_backColor = 0;
    double m_progress = -1.0;
    std::function<void()> m_click;
};
