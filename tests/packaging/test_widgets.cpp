#include "ui/Colours.h"
#include "ui/Pictures.h"
#include "ui/VkCommand.h"
#include "ui/VkFrame.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Each channel of p within tolerance of the 0xBBGGRR colour.
bool near(QRgb p, quint32 bgr, int tolerance)
{
    const QColor c = fromBgr(bgr);
    return std::max({std::abs(qRed(p) - c.red()), std::abs(qGreen(p) - c.green()), std::abs(qBlue(p) - c.blue())}) <= tolerance;
}

int countPixels(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &test)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

bool isWhite(QRgb p) { return qRed(p) >= 245 && qGreen(p) >= 245 && qBlue(p) >= 245; }

template <typename Control>
QImage paint(Control &control, const QList<std::pair<QString, QVariant>> &settings, QSize size)
{
    for (const auto &[key, value] : settings)
        control.setSetting(key, value);
    control.resize(size);
    return control.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    // The title's gradient, the body's colour and a white border exactly as wide as set, on every side.
    void panelLook()
    {
        for (const int border : {3, 6}) {
            VkFrame frame;
            const QImage image = paint(frame, {{u"caption"_s, u"Sélectionner ci-dessous"_s}, {u"titlecolor1"_s, quint32(0x00C0C0)},
                {u"titlecolor2"_s, quint32(0xC0FFFF)}, {u"backcolor2"_s, quint32(0x004080)}, {u"titleheight"_s, 450},
                {u"bordercolor"_s, quint32(0xFFFFFF)}, {u"borderwidth"_s, border}}, QSize(488, 523));
            const int x = 440, titleBottom = 450 / 15 - 1; // x clear of the caption; 15 twips a pixel
            QVERIFY(near(image.pixel(x, border), 0x00C0C0, 12) && near(image.pixel(x, titleBottom), 0xC0FFFF, 12));
            QVERIFY(near(image.pixel(x, titleBottom + 1), 0x004080, 2) && near(image.pixel(244, 400), 0x004080, 2));
            for (const QRect edge : {QRect(244, 0, 1, border + 1), QRect(244, 522 - border, 1, border + 1), QRect(0, 300, border + 1, 1),
                                     QRect(487 - border, 300, border + 1, 1)})
                QCOMPARE(countPixels(image, edge, isWhite), border);
        }
    }

    // Enabled: the gradient under a white caption, and clicks. Disabled: grey, and no click.
    void buttonEnabledAndDisabled()
    {
        VkCommand button;
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        for (const bool enabled : {true, false}) {
            button.setEnabled(enabled);
            const QImage image = paint(button, {{u"caption"_s, u"Lancer les copies"_s}, {u"font"_s, QFont(u"Arial"_s, 16, QFont::Bold)},
                {u"forecolor"_s, quint32(0xFFFFFF)}, {u"backcolor1"_s, quint32(0x00FF00)}, {u"backcolor2"_s, quint32(0x004000)}},
                QSize(201, 43));
            QCOMPARE(near(image.pixel(100, 2), 0x00FF00, 24) && near(image.pixel(100, 40), 0x004000, 24), enabled);
            QCOMPARE(countPixels(image, image.rect(), [](QRgb p) { return QColor(p).hsvSaturation() > 40; }) > 201 * 43 / 2, enabled);
            QCOMPARE(countPixels(image, image.rect(), isWhite) > 40, enabled); // the caption, grey when disabled
            QVERIFY(enabled || countPixels(image, image.rect(), [](QRgb p) { return qGray(p) < 100; }) > 40);
            clicked.clear();
            QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(100, 20));
            QTest::keyClick(&button, Qt::Key_Return);
            QCOMPARE(clicked.count(), enabled ? 2 : 0);
        }
    }

    // A green tick and a red cross, each on 32 by 32 pixels, drawn in white.
    void tickPictures()
    {
        for (const auto &[picture, green] : {std::pair(tickedPicture(), true), std::pair(notTickedPicture(), false)}) {
            QVERIFY(picture && picture->deviceIndependentSize() == QSizeF(32, 32));
            const QImage image = picture->toImage().scaled(32, 32).convertToFormat(QImage::Format_ARGB32);
            const QRect centre(6, 6, 20, 20);
            const int greens = countPixels(image, centre, [](QRgb p) { return qGreen(p) > qRed(p) + 60 && qGreen(p) > qBlue(p) + 60; });
            const int reds = countPixels(image, centre, [](QRgb p) { return qRed(p) > qGreen(p) + 60 && qRed(p) > qBlue(p) + 60; });
            QVERIFY((green ? greens : reds) > 200 && (green ? reds : greens) == 0);
            QVERIFY(countPixels(image, centre, isWhite) > 40);
        }
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
