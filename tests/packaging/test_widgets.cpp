#include "ui/Colours.h"
#include "ui/Pictures.h"
#include "ui/VkCommand.h"
#include "ui/VkFrame.h"

#include <QApplication>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

using Settings = QList<std::pair<QString, QVariant>>;

QFont arialBold(qreal points)
{
    QFont font(u"Arial"_s);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

Settings panelSettings(const QString &caption, qreal points, quint32 back, quint32 title1, quint32 title2)
{
    return {{u"caption"_s, caption}, {u"font"_s, arialBold(points)}, {u"forecolor"_s, quint32(0x000000)},
            {u"backcolor2"_s, back}, {u"titlecolor1"_s, title1}, {u"titlecolor2"_s, title2},
            {u"titleheight"_s, 450}, {u"bordercolor"_s, quint32(0xFFFFFF)}, {u"borderwidth"_s, 3}};
}

Settings buttonSettings(const QString &caption, quint32 back1, quint32 back2)
{
    return {{u"caption"_s, caption}, {u"font"_s, arialBold(15.75)}, {u"forecolor"_s, quint32(0xFFFFFF)},
            {u"backcolor1"_s, back1}, {u"backcolor2"_s, back2}, {u"customstyle"_s, 0}};
}

int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

bool near(QRgb actual, quint32 bgr, int tolerance)
{
    return distance(actual, fromBgr(bgr).rgb()) <= tolerance;
}

QString describe(QRgb pixel)
{
    return u"#%1"_s.arg(pixel & 0xFFFFFF, 6, 16, QLatin1Char('0'));
}

int countPixels(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &test)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

double meanSaturation(const QImage &image)
{
    double total = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            total += QColor(image.pixel(x, y)).hsvSaturation();
    return total / (image.width() * image.height());
}

bool isWhite(QRgb pixel)
{
    return qRed(pixel) >= 245 && qGreen(pixel) >= 245 && qBlue(pixel) >= 245;
}

QImage grabbed(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

enum class Press { Mouse, Space, Return, Enter, HeldReturn };

} // namespace

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(Press)
Q_DECLARE_METATYPE(Picture)

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void settingsAreCheckedAndKept_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("kept");
        QTest::addColumn<bool>("warns");
        QTest::newRow("colour as 0xBBGGRR") << u"titlecolor1"_s << QVariant(quint32(0x0080FF)) << QVariant(quint32(0x0080FF)) << false;
        QTest::newRow("colour as QColor, stored blue-green-red")
            << u"bordercolor"_s << QVariant(QColor(255, 128, 0)) << QVariant(quint32(0x0080FF)) << false;
        QTest::newRow("key in any case") << u"BorderWidth"_s << QVariant(5) << QVariant(5) << false;
        QTest::newRow("title height in twips") << u"titleheight"_s << QVariant(450) << QVariant(450) << false;
        QTest::newRow("size kept for the window") << u"_extentx"_s << QVariant(12912) << QVariant(12912) << false;
        QTest::newRow("negative width refused") << u"borderwidth"_s << QVariant(-1) << QVariant(1) << true;
        QTest::newRow("colour beyond 24 bits refused")
            << u"forecolor"_s << QVariant(quint32(0x8000000F)) << QVariant(quint32(0)) << true;
        QTest::newRow("number that is not a number refused") << u"titleheight"_s << QVariant(u"tall"_s) << QVariant(375) << true;
        QTest::newRow("unknown key refused") << u"backcolor3"_s << QVariant(quint32(1)) << QVariant() << true;
    }
    void settingsAreCheckedAndKept()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QVariant, kept);
        QFETCH(bool, warns);
        VkFrame frame;
        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".*"_s + QRegularExpression::escape(key) + u".*"_s));
        frame.setSetting(key, value);
        QCOMPARE(frame.setting(key), kept);
    }

    void unsetTopColourFollowsBottomColour()
    {
        VkFrame frame;
        frame.setSetting(u"backcolor2"_s, quint32(0x0080FF));
        QCOMPARE(frame.setting(u"backcolor1"_s), QVariant(quint32(0x0080FF)));
        frame.setSetting(u"backcolor1"_s, quint32(0x123456));
        QCOMPARE(frame.setting(u"backcolor1"_s), QVariant(quint32(0x123456)));
        QCOMPARE(frame.setting(u"backcolor2"_s), QVariant(quint32(0x0080FF)));
    }

    void panelLook_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QSize>("size");
        QTest::newRow("source panel")
            << panelSettings(u"Sélectionner ci-dessous le fichier à copier"_s, 14.25, 0x00C0C0, 0x00C0C0, 0xC0FFFF)
            << QSize(488, 523);
        QTest::newRow("destination panel")
            << panelSettings(u"Sélectionner ci-dessous les clés USB de destination"_s, 15.75, 0x0080FF, 0x0080FF, 0xC0E0FF)
            << QSize(644, 523);
    }
    void panelLook()
    {
        QFETCH(Settings, settings);
        QFETCH(QSize, size);
        VkFrame frame;
        for (const auto &[key, value] : settings)
            frame.setSetting(key, value);
        frame.resize(size);
        const QImage image = grabbed(frame);
        QCOMPARE(image.size(), size);

        const quint32 title1 = frame.setting(u"titlecolor1"_s).toUInt();
        const quint32 title2 = frame.setting(u"titlecolor2"_s).toUInt();
        const quint32 back = frame.setting(u"backcolor2"_s).toUInt();
        const quint32 border = frame.setting(u"bordercolor"_s).toUInt();
        const int width = frame.setting(u"borderwidth"_s).toInt();
        const int titleBottom = frame.setting(u"titleheight"_s).toInt() / 15 - 1;
        const int right = size.width() - 1;
        const int x = right - 40; // clear of the caption

        QVERIFY2(near(image.pixel(x, width), title1, 12), qPrintable(describe(image.pixel(x, width))));
        QVERIFY2(near(image.pixel(x, titleBottom), title2, 12), qPrintable(describe(image.pixel(x, titleBottom))));
        QVERIFY2(near(image.pixel(x, titleBottom + 1), back, 2), qPrintable(describe(image.pixel(x, titleBottom + 1))));
        QVERIFY(near(image.pixel(size.width() / 2, size.height() / 2), back, 2));
        QVERIFY(near(image.pixel(width + 10, size.height() - 1 - width), back, 2));

        const int midX = size.width() / 2;
        const int midY = size.height() / 2;
        for (int d = 0; d < width; ++d) {
            QVERIFY2(near(image.pixel(midX, d), border, 2), qPrintable(u"top border, %1 in"_s.arg(d)));
            QVERIFY2(near(image.pixel(midX, size.height() - 1 - d), border, 2), qPrintable(u"bottom border, %1 in"_s.arg(d)));
            QVERIFY2(near(image.pixel(d, midY), border, 2), qPrintable(u"left border, %1 in"_s.arg(d)));
            QVERIFY2(near(image.pixel(right - d, midY), border, 2), qPrintable(u"right border, %1 in"_s.arg(d)));
        }
        QVERIFY(!near(image.pixel(midX, width), border, 40));
        QVERIFY(!near(image.pixel(width, midY), border, 40));
        QVERIFY(!near(image.pixel(midX, size.height() - 1 - width), border, 40));

        // The caption: dark ink in the band, left-aligned after a margin, centred on the band.
        const QRect band(0, width, size.width(), titleBottom + 1 - width);
        const auto dark = [](QRgb pixel) { return qGray(pixel) < 60; };
        QCOMPARE(countPixels(image, QRect(0, band.top(), width + 3, band.height()), dark), 0);
        QVERIFY(countPixels(image, QRect(width + 3, band.top(), 40, band.height()), dark) > 20);
        QCOMPARE(countPixels(image, QRect(0, titleBottom + 1, size.width(), size.height() - titleBottom - 1), dark), 0);
        int inkTop = band.bottom();
        int inkBottom = band.top();
        for (int y = band.top(); y <= band.bottom(); ++y) {
            if (countPixels(image, QRect(0, y, size.width(), 1), dark) > 0) {
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
            }
        }
        QVERIFY2(std::abs((inkTop + inkBottom) - (band.top() + band.bottom())) <= 8,
                 qPrintable(u"ink %1 to %2 in a band %3 to %4"_s.arg(inkTop).arg(inkBottom).arg(band.top()).arg(band.bottom())));
    }

    void panelLeavesChildrenWhereTheyArePut()
    {
        VkFrame frame;
        frame.setSetting(u"borderwidth"_s, 3);
        frame.resize(300, 200);
        auto *child = new QWidget(&frame);
        child->setGeometry(6, 34, 50, 20);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(child->geometry(), QRect(6, 34, 50, 20));
        QCOMPARE(child->mapTo(&frame, QPoint(0, 0)), QPoint(6, 34));
    }

    void buttonLook_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QSize>("size");
        QTest::newRow("launch") << buttonSettings(u"Lancer les copies"_s, 0x00FF00, 0x004000) << QSize(201, 43);
        QTest::newRow("quit") << buttonSettings(u"Quitter"_s, 0x8080FF, 0x000040) << QSize(127, 43);
    }
    void buttonLook()
    {
        QFETCH(Settings, settings);
        QFETCH(QSize, size);
        VkCommand button;
        for (const auto &[key, value] : settings)
            button.setSetting(key, value);
        button.resize(size);
        const quint32 top = button.setting(u"backcolor1"_s).toUInt();
        const quint32 bottom = button.setting(u"backcolor2"_s).toUInt();
        const int x = size.width() / 2;
        const int lastY = size.height() - 3;

        const QImage released = grabbed(button);
        QVERIFY2(near(released.pixel(x, 2), top, 24), qPrintable(describe(released.pixel(x, 2))));
        QVERIFY2(near(released.pixel(x, lastY), bottom, 24), qPrintable(describe(released.pixel(x, lastY))));
        const int whiteCaption = countPixels(released, released.rect(), isWhite);
        QVERIFY(whiteCaption > 40);

        button.setDown(true);
        const QImage pressed = grabbed(button);
        button.setDown(false);
        QVERIFY(distance(pressed.pixel(x, 2), released.pixel(x, 2)) > 60);
        QVERIFY(distance(pressed.pixel(x, lastY), released.pixel(x, lastY)) > 60);

        button.setEnabled(false);
        const QImage disabled = grabbed(button);
        QVERIFY2(meanSaturation(disabled) < meanSaturation(released) / 5,
                 qPrintable(u"saturation %1 against %2"_s.arg(meanSaturation(disabled)).arg(meanSaturation(released))));
        QCOMPARE(countPixels(disabled, disabled.rect(), isWhite), 0);
        QVERIFY(countPixels(disabled, disabled.rect(), [](QRgb pixel) { return qGray(pixel) < 120; }) > 40);
    }

    void buttonShowsKeyboardFocus()
    {
        QWidget window;
        auto *other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        auto *button = new VkCommand(&window);
        for (const auto &[key, value] : buttonSettings(u"Quitter"_s, 0x8080FF, 0x000040))
            button->setSetting(key, value);
        button->setGeometry(0, 0, 127, 43);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        const QImage unfocused = grabbed(*button);
        QTest::keyClick(&window, Qt::Key_Tab);
        QTRY_VERIFY(button->hasFocus());
        const QImage focused = grabbed(*button);
        const QRect inside = unfocused.rect().adjusted(2, 2, -2, -2);
        int changed = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                changed += distance(focused.pixel(x, y), unfocused.pixel(x, y)) > 40 ? 1 : 0;
        QVERIFY2(changed > 50, qPrintable(u"%1 pixels changed"_s.arg(changed)));
    }

    void buttonCaptionIsItsText()
    {
        VkCommand button;
        button.setSetting(u"caption"_s, u"&Quitter"_s);
        QCOMPARE(button.text(), u"&Quitter"_s);
        QCOMPARE(button.shortcut(), QKeySequence(u"Alt+Q"_s));
    }

    void pressClicksOnlyWhileEnabled_data()
    {
        QTest::addColumn<Press>("press");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("clicks");
        QTest::newRow("mouse, enabled") << Press::Mouse << true << 1;
        QTest::newRow("mouse, disabled") << Press::Mouse << false << 0;
        QTest::newRow("space, enabled") << Press::Space << true << 1;
        QTest::newRow("space, disabled") << Press::Space << false << 0;
        QTest::newRow("return, enabled") << Press::Return << true << 1;
        QTest::newRow("return, disabled") << Press::Return << false << 0;
        QTest::newRow("keypad enter, enabled") << Press::Enter << true << 1;
        QTest::newRow("return held down") << Press::HeldReturn << true << 1;
    }
    void pressClicksOnlyWhileEnabled()
    {
        QFETCH(Press, press);
        QFETCH(bool, enabled);
        QFETCH(int, clicks);
        VkCommand button;
        button.setSetting(u"caption"_s, u"Lancer les copies"_s);
        button.resize(201, 43);
        button.setEnabled(enabled);
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        switch (press) {
        case Press::Mouse:
            QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));
            break;
        case Press::Space:
            QTest::keyClick(&button, Qt::Key_Space);
            break;
        case Press::Return:
            QTest::keyClick(&button, Qt::Key_Return);
            break;
        case Press::Enter:
            QTest::keyClick(&button, Qt::Key_Enter, Qt::KeypadModifier);
            break;
        case Press::HeldReturn:
            QTest::keyPress(&button, Qt::Key_Return);
            for (int i = 0; i < 3; ++i) {
                QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
                QApplication::sendEvent(&button, &repeat);
            }
            QTest::keyRelease(&button, Qt::Key_Return);
            break;
        }
        QCOMPARE(clicked.count(), clicks);
    }

    void tickPictures_data()
    {
        QTest::addColumn<Picture>("picture");
        QTest::addColumn<bool>("green");
        QTest::newRow("ticked") << tickedPicture() << true;
        QTest::newRow("not ticked") << notTickedPicture() << false;
    }
    void tickPictures()
    {
        QFETCH(Picture, picture);
        QFETCH(bool, green);
        QVERIFY(picture);
        QCOMPARE(picture->deviceIndependentSize(), QSizeF(32, 32));
        const QImage image = picture->toImage().scaled(32, 32).convertToFormat(QImage::Format_ARGB32);

        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(16, 16)), 255);
        const QRect centre(6, 6, 20, 20);
        const auto isGreen = [](QRgb p) { return qGreen(p) > qRed(p) + 60 && qGreen(p) > qBlue(p) + 60; };
        const auto isRed = [](QRgb p) { return qRed(p) > qGreen(p) + 60 && qRed(p) > qBlue(p) + 60; };
        const int greens = countPixels(image, centre, isGreen);
        const int reds = countPixels(image, centre, isRed);
        const int marks = countPixels(image, centre, isWhite);
        const int area = centre.width() * centre.height();
        QVERIFY2((green ? greens : reds) > area / 2, qPrintable(u"%1 green, %2 red of %3"_s.arg(greens).arg(reds).arg(area)));
        QCOMPARE(green ? reds : greens, 0);
        QVERIFY2(marks > area / 10, qPrintable(u"%1 white of %2"_s.arg(marks).arg(area)));
    }

    void programIconShowsItsParts()
    {
        const QIcon icon = programIcon();
        QVERIFY(!icon.isNull());
        const QImage image = icon.pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(48, 48));
        const auto count = [&image](const std::function<bool(QRgb)> &test) { return countPixels(image, image.rect(), test); };
        QVERIFY(count([](QRgb p) { return qAlpha(p) == 0; }) > 100);
        QVERIFY(count([](QRgb p) { return qAlpha(p) == 255 && qRed(p) > 170 && qGreen(p) < 80 && qBlue(p) < 80; }) > 20);
        QVERIFY(count([](QRgb p) { return qAlpha(p) == 255 && qRed(p) > 200 && qGreen(p) > 100 && qGreen(p) < 190 && qBlue(p) < 80; }) > 20);
        QVERIFY(count([](QRgb p) { return qAlpha(p) == 255 && qGreen(p) > 200 && qRed(p) < qGreen(p) - 15 && qBlue(p) < qGreen(p) - 15; }) > 50);
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
