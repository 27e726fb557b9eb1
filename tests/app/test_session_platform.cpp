// The choice of Qt platform on Wayland and X11 sessions, and what the player
// says about it.

#include "app/SessionPlatform.h"

#include <QtTest>

using namespace velmora;

class TestSessionPlatform : public QObject
{
    Q_OBJECT

private slots:
    void decide_data();
    void decide();
    void report_data();
    void report();
};

void TestSessionPlatform::decide_data()
{
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("xDisplay");
    QTest::addColumn<QString>("set");
    QTest::newRow("Wayland with XWayland") << "wayland-0" << "" << true << "xcb";
    QTest::newRow("Wayland, no X display") << "wayland-0" << "" << false << "";
    QTest::newRow("Wayland, user chose wayland") << "wayland-0" << "wayland" << true << "";
    QTest::newRow("Wayland, user chose a list") << "wayland-0" << "wayland;xcb" << true << "";
    QTest::newRow("Wayland, blank choice") << "wayland-0" << "  " << true << "xcb";
    QTest::newRow("X11 session") << "" << "" << true << "";
}

void TestSessionPlatform::decide()
{
    QFETCH(QString, wayland);
    QFETCH(QString, choice);
    QFETCH(bool, xDisplay);
    QFETCH(QString, set);
    const PlatformDecision d = decidePlatform({wayland, choice, xDisplay});
    QCOMPARE(d.setPlatform, set);
    QCOMPARE(d.waylandSession, !wayland.isEmpty());
}

void TestSessionPlatform::report_data()
{
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("xDisplay");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QStringList>("says");
    QTest::newRow("XWayland chosen") << "w" << "" << true << "xcb"
                                     << QStringList{"XWayland (Qt platform \"xcb\")", "MPRIS"};
    QTest::newRow("XWayland by the user") << "w" << "xcb" << true << "xcb"
                                          << QStringList{"XWayland", "as QT_QPA_PLATFORM asks", "MPRIS"};
    QTest::newRow("native, no X display") << "w" << "" << false << "wayland"
                                          << QStringList{"no X display", "places the windows", "shortcuts"};
    QTest::newRow("native by the user") << "w" << "wayland" << true << "wayland"
                                        << QStringList{"as QT_QPA_PLATFORM asks", "places the windows"};
    QTest::newRow("X11 session says nothing") << "" << "" << true << "xcb" << QStringList{};
}

void TestSessionPlatform::report()
{
    QFETCH(QString, wayland);
    QFETCH(QString, choice);
    QFETCH(bool, xDisplay);
    QFETCH(QString, platform);
    QFETCH(QStringList, says);
    const QString text = platformReport(decidePlatform({wayland, choice, xDisplay}), platform).join(u'\n');
    QCOMPARE(text.isEmpty(), says.isEmpty());
    for (const QString &part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestSessionPlatform)
#include "test_session_platform.moc"
