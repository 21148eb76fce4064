#include "ui/VkCommand.h"
#include "ui/VkFrame.h"

#include <QTest>

// An image and samples of it: x, y and the 0xBBGGRR colour there, -1 for a grey.
using Look = std::pair<QImage, QList<std::array<int, 3>>>;

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    // The panel's title gradient (450 twips: 30 pixels), body gradient and border as wide as set; the button's
    // gradient, grey once disabled.
    void paintedLook_data()
    {
        QTest::addColumn<Look>("look");
        VkFrame panel;
        VkCommand button;
        for (const auto &[key, value] : QVariantMap{{"titlecolor1", 0x00C0C0}, {"titlecolor2", 0xC0FFFF}, {"backcolor1", 0x00FF00},
                 {"backcolor2", 0x004080}, {"titleheight", 450}, {"bordercolor", 0xFFFFFF}, {"borderwidth", 5}}.asKeyValueRange())
            panel.setSetting(key, value), button.setSetting(key, value); // the button refuses the panel's own keys
        panel.resize(488, 523), button.resize(201, 43);
        QTest::newRow("panel") << Look{panel.grab().toImage(), {{440, 4, 0xFFFFFF}, {440, 5, 0x00C0C0}, {440, 29, 0xC0FFFF}, {440, 30, 0x00FF00},
                                                                 {4, 510, 0xFFFFFF}, {5, 510, 0x004080}, {483, 510, 0xFFFFFF}, {244, 518, 0xFFFFFF}}};
        QTest::newRow("button") << Look{button.grab().toImage(), {{100, 2, 0x00FF00}, {100, 40, 0x004080}}};
        button.setEnabled(false);
        QTest::newRow("disabled button") << Look{button.grab().toImage(), {{100, 2, -1}, {100, 40, -1}}};
    }
    void paintedLook()
    {
        QFETCH(Look, look);
        for (const auto &[x, y, bgr] : look.second) {
            const QColor p = look.first.pixelColor(x, y), w(bgr & 0xFF, bgr >> 8 & 0xFF, bgr >> 16 & 0xFF);
            QVERIFY2(bgr < 0 ? p.hsvSaturation() < 40 : std::abs(p.red() - w.red()) + std::abs(p.green() - w.green()) + std::abs(p.blue() - w.blue()) <= 60,
                     qPrintable(QString("%1,%2 is %3").arg(x).arg(y).arg(p.name())));
        }
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
