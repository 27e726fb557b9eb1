// The control panel: placement, start-up, layout pass, background mouse,
// volume and mute buttons.
#include "ShellFixture.h"

#include "widgets/ButtonLooks.h"
#include "widgets/ImageButton.h"
#include "widgets/VDrive.h"

#include <QPushButton>
#include <QSlider>

using namespace velmora;
using namespace velmora::testing;

class TestForm6 : public QObject
{
    Q_OBJECT

private:
    ShellFixture m_fixture;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.home.isValid());
        m_fixture.setUp();
        m_fixture.start();
        QVERIFY(m_fixture.exposed);
    }

    void placementInTwips()
    {
        // A 1024 x 768 screen at 15 twips per pixel.
        QCOMPARE(Form6::startPosition(QSizeF(15360, 11520)), QPointF(4522.5, 8010));
        // 3510 twips above the bottom after the shrink, without moving.
        QCOMPARE(11520 - Form6::startPosition(QSizeF(15360, 11520)).y(), 3510.0);

        Form6 &panel = form6();
        const QSizeF screen = QSizeF(panel.screen()->geometry().size()) * 15;
        QCOMPARE(QPointF(panel.Left(), panel.Top()), Form6::startPosition(screen));
        QCOMPARE(panel.Width(), 6275.0);
        QCOMPARE(panel.Height(), 1690.0);
        QCOMPARE(panel.size(), QSize(418, 113));
    }

    void startUpBringsTheVideoWindow()
    {
        QVERIFY(form4Loaded());
        QVERIFY(m_fixture.timersWereStarted);
        QCOMPARE(form6().Timer1->interval(), 500);
        QCOMPARE(form6().Timer2->interval(), 3000);
        QCOMPARE(int(TitleSeconds), 1);
        QCOMPARE(form6().palette().color(QPalette::Window), QColor(0x40, 0x40, 0x40));
        QCOMPARE(form6().Slider1->maximum(), 100);
        // Both windows show each other.
        QVERIFY(form6().isVisible());
        QVERIFY(form4().isVisible());
    }

    void layoutPass_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("spot"); // width/height -1: the picture's own size
        QTest::newRow("Playi") << "Playi" << QRect(82, 47, 19, 20);
        QTest::newRow("Stopi") << "Stopi" << QRect(115, 48, 24, 23);
        QTest::newRow("Previ") << "Previ" << QRect(157, 48, 37, 22);
        QTest::newRow("FBi") << "FBi" << QRect(192, 48, 37, 22);
        QTest::newRow("FFi") << "FFi" << QRect(227, 48, 37, 22);
        QTest::newRow("Nexti") << "Nexti" << QRect(262, 48, 37, 22);
        QTest::newRow("Ejecti") << "Ejecti" << QRect(297, 48, 37, 22);
        QTest::newRow("Mute") << "Mute" << QRect(308, 83, 10, 10);
        QTest::newRow("Image2") << "Image2" << QRect(321, 83, 10, 10);
        QTest::newRow("Image1") << "Image1" << QRect(395, 83, 10, 10);
        QTest::newRow("Op") << "Op" << QRect(350, 64, 38, 13);
        QTest::newRow("Picture1") << "Picture1" << QRect(313, 0, 34, 11);
        QTest::newRow("Picture2") << "Picture2" << QRect(348, 0, 34, 11);
        QTest::newRow("Picture3") << "Picture3" << QRect(383, 0, 34, 11);
        QTest::newRow("Seek") << "Seek" << QRect(136, 16, 273, 9);
    }
    void layoutPass()
    {
        QFETCH(QString, control);
        QFETCH(QRect, spot);
        auto *widget = form6().findChild<QWidget *>(control);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), spot);
        QVERIFY(widget->isVisible());
    }

    void layoutPassHidesThePauseAndUnmuteFaces()
    {
        Form6 &panel = form6();
        QCOMPARE(panel.Slider1->geometry().topLeft(), QPoint(334, 85));
        QCOMPARE(panel.Slider1->width(), 58);
        QCOMPARE(panel.Pausei->pos(), QPoint(82, 47));
        QCOMPARE(panel.MuteOff->pos(), QPoint(308, 83));
        panel.Pausei->show();
        panel.MuteOff->show();
        panel.Form_Resize();
        QVERIFY(panel.Pausei->isHidden());
        QVERIFY(panel.MuteOff->isHidden());
        // Hiding the un-mute face does not bring the mute face back.
        panel.Mute->hide();
        panel.Form_Resize();
        QVERIFY(panel.Mute->isHidden());
        panel.Mute->show();
        // The hidden buttons lie below the visible part of the panel.
        QVERIFY(panel.PlayT->y() >= panel.height());
        QVERIFY(panel.Pause->y() >= panel.height());
    }

    void layoutPassShowsTheVideoWindowOnlyWhenNormal()
    {
        Form6 &panel = form6();
        form4().hide();
        panel.setWindowState(Qt::WindowMinimized);
        QCOMPARE(panel.WindowState(), 1);
        panel.Form_Resize();
        QVERIFY(form4().isHidden());
        panel.setWindowState(Qt::WindowNoState);
        QCOMPARE(panel.WindowState(), 0);
        QVERIFY(form4().isVisible());
    }

    void backgroundMoveRestoresEveryButton()
    {
        Form6 &panel = form6();
        panel.Timer2->start();
        const QPoint before = panel.pos();
        emit panel.Pausei->mouseMoved();
        emit panel.Image1->mouseMoved();
        emit panel.Stopi->pressed(Qt::LeftButton);
        QCOMPARE(panel.Stopi->imageName(), QStringLiteral("tdd"));
        panel.Form_MouseMove(Qt::NoButton);
        for (const ButtonLook &look : buttonLooks()) {
            if (look.window == SkinWindow::Panel)
                QCOMPARE(panel.skins()->button(look.button)->imageName(), look.normal);
        }
        QVERIFY(!panel.Timer2->isActive());
        QCOMPARE(panel.pos(), before);
    }

    void volumeStepsStayOnTheSlider()
    {
        Form6 &panel = form6();
        panel.Slider1->setValue(37);
        panel.Volup();
        QCOMPARE(panel.Slider1->value(), 47);
        panel.Slider1->setValue(95);
        emit panel.Image1->clicked();
        QCOMPARE(panel.Slider1->value(), 100);
        panel.Slider1->setValue(5);
        emit panel.Image2->clicked();
        QCOMPARE(panel.Slider1->value(), 0);
    }

    void muteButtonsSetTheEngine()
    {
        Form6 &panel = form6();
        QVERIFY(m_fixture.engine);
        m_fixture.engine->calls.clear();
        emit panel.Mute->clicked();
        emit panel.MuteOff->clicked();
        QCOMPARE(m_fixture.engine->calls, QStringList({QStringLiteral("setMute(true)"), QStringLiteral("setMute(false)")}));
        // The buttons follow the engine on the poll, not on the click.
        QVERIFY(panel.Mute->isVisible());
        // A refused mute is ignored.
        m_fixture.engine->failures.insert(QStringLiteral("setMute"), 1);
        emit panel.Mute->clicked();
        m_fixture.engine->failures.clear();
    }

    void seekGoesToTheVideoWindowsEngine()
    {
        Form6 &panel = form6();
        m_fixture.engine->calls.clear();
        TitleSeconds = 5400;
        panel.Seek->MouseDown(2020);
        panel.Seek->MouseUp(2020);
        QCOMPARE(m_fixture.engine->calls, QStringList{QStringLiteral("PlayAtTime(00:44:06:00)")});
        QCOMPARE(panel.Seek->Value(), 49);
        m_fixture.engine->failures.insert(QStringLiteral("PlayAtTime"), 1);
        panel.Seek->MouseDown(2020);
        panel.Seek->MouseUp(2020);
        QCOMPARE(panel.Seek->Value(), 1);
        m_fixture.engine->failures.clear();
        QVERIFY(m_fixture.messages.isEmpty());
    }
};

QTEST_MAIN(TestForm6)
#include "test_form6.moc"
