// The skin store and the one rule that switches every button's pictures,
// checked row by row against the table.
#include "widgets/ButtonLooks.h"
#include "widgets/ImageButton.h"
#include "widgets/Skn.h"

#include <QSignalSpy>
#include <QTest>

using namespace velmora;

Q_DECLARE_METATYPE(const ButtonLook *)

namespace {

// All buttons of one window, each showing its normal picture.
struct Window
{
    explicit Window(SkinWindow which) : skinner(which)
    {
        for (const ButtonLook &look : buttonLooks()) {
            if (look.window != which)
                continue;
            auto *button = new ImageButton(&host);
            buttons.insert(look.button, button);
            skinner.add(look.button, button);
        }
        skinner.showAllNormal();
    }
    QWidget host;
    ButtonSkinner skinner;
    QHash<QString, ImageButton *> buttons;
};

QString windowName(SkinWindow w) { return w == SkinWindow::Panel ? QStringLiteral("panel") : QStringLiteral("video"); }

} // namespace

class TestButtonLooks : public QObject
{
    Q_OBJECT

private slots:
    void storeHoldsEveryPictureAtItsSize()
    {
        QCOMPARE(Skn::catalogue().size(), 62);
        QSet<QString> names;
        for (const SkinImage &image : Skn::catalogue()) {
            const QString name = QString::fromLatin1(image.name);
            names.insert(name);
            QVERIFY2(skn().contains(name), image.name);
            QCOMPARE(skn().Picture(name).size(), image.size);
        }
        QCOMPARE(names.size(), 62);
        QVERIFY2(skn().missing().isEmpty(), qPrintable(skn().missing().join(u' ')));
        QCOMPARE(skn().panelBackground().size(), QSize(418, 113));
        QVERIFY(skn().isHidden());
    }

    void everyTableImageIsInTheStore()
    {
        for (const ButtonLook &look : buttonLooks()) {
            for (const QString &name : {look.normal, look.over, look.pressed, look.release})
                QVERIFY2(skn().contains(name), qPrintable(look.button + u' ' + name));
        }
        QCOMPARE(buttonLooks().size(), 19);
    }

    void buttonsShareTheStoresPicture()
    {
        ImageButton a;
        ImageButton b;
        a.showImage(QStringLiteral("EjectN"));
        b.showImage(QStringLiteral("EjectN"));
        QCOMPARE(a.pixmap().cacheKey(), skn().Picture(QStringLiteral("EjectN")).cacheKey());
        QCOMPARE(b.pixmap().cacheKey(), a.pixmap().cacheKey());
        QCOMPARE(a.size(), QSize(32, 20));
        // A size given by the layout stays when the picture changes.
        a.setSpot(1, 2, 37, 22);
        a.showImage(QStringLiteral("EjectM"));
        QCOMPARE(a.geometry(), QRect(1, 2, 37, 22));
    }

    void rule_data()
    {
        QTest::addColumn<const ButtonLook *>("look");
        for (const ButtonLook &look : buttonLooks())
            QTest::newRow(qPrintable(windowName(look.window) + u' ' + look.button)) << &look;
    }
    void rule()
    {
        QFETCH(const ButtonLook *, look);
        Window window(look->window);
        ImageButton *button = window.buttons.value(look->button);
        QCOMPARE(button->imageName(), look->normal);

        // Press with the right button: only buttons pressed by any button react.
        emit button->pressed(Qt::RightButton);
        QCOMPARE(button->imageName(), look->press == PressFilter::AnyButton ? look->pressed : look->normal);
        emit button->pressed(Qt::LeftButton);
        QCOMPARE(button->imageName(), look->pressed);
        emit button->released(Qt::LeftButton);
        QCOMPARE(button->imageName(), look->release);

        // Light every other button, then move over this one.
        for (auto it = window.buttons.cbegin(); it != window.buttons.cend(); ++it) {
            if (it.key() != look->button)
                it.value()->showImage(findButtonLook(look->window, it.key())->over);
        }
        emit button->mouseMoved();
        QCOMPARE(button->imageName(), look->over);
        for (auto it = window.buttons.cbegin(); it != window.buttons.cend(); ++it) {
            if (it.key() == look->button)
                continue;
            const ButtonLook *other = findButtonLook(look->window, it.key());
            const QString expected = look->hoverResets.contains(it.key()) ? other->normal : other->over;
            QVERIFY2(it.value()->imageName() == expected, qPrintable(it.key() + u' ' + it.value()->imageName()));
        }

        // The background puts everything back.
        window.skinner.showAllNormal();
        for (auto it = window.buttons.cbegin(); it != window.buttons.cend(); ++it)
            QCOMPARE(it.value()->imageName(), findButtonLook(look->window, it.key())->normal);
    }

    void transportGroupShowsOneHover()
    {
        Window panel(SkinWindow::Panel);
        emit panel.buttons[QStringLiteral("Ejecti")]->mouseMoved();
        emit panel.buttons[QStringLiteral("Nexti")]->mouseMoved();
        QCOMPARE(panel.buttons[QStringLiteral("Ejecti")]->imageName(), QStringLiteral("EjectN"));
        QCOMPARE(panel.buttons[QStringLiteral("Nexti")]->imageName(), QStringLiteral("NextM"));
        emit panel.buttons[QStringLiteral("Pausei")]->mouseMoved();
        emit panel.buttons[QStringLiteral("Playi")]->mouseMoved();
        QCOMPARE(panel.buttons[QStringLiteral("Pausei")]->imageName(), QStringLiteral("PausM"));
        QCOMPARE(panel.buttons[QStringLiteral("Playi")]->imageName(), QStringLiteral("pm"));
    }

    void mouseEventsBecomeSignals()
    {
        QWidget host;
        auto *button = new ImageButton(&host);
        button->showImage(QStringLiteral("PrevN"));
        host.resize(100, 100);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QSignalSpy pressed(button, &ImageButton::pressed);
        QSignalSpy released(button, &ImageButton::released);
        QSignalSpy clicked(button, &ImageButton::clicked);
        QTest::mouseClick(button, Qt::RightButton, {}, QPoint(5, 5));
        QCOMPARE(pressed.size(), 1);
        QCOMPARE(pressed.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(clicked.size(), 0);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(released.size(), 2);
        QCOMPARE(clicked.size(), 1);
        // A release away from the button is no click.
        QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(clicked.size(), 1);
    }
};

QTEST_MAIN(TestButtonLooks)
#include "test_buttonlooks.moc"
