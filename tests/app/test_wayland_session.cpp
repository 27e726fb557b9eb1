// End to end in a Wayland session (weston with XWayland, started by
// weston_session.sh; headless, or nested for the drag): the player left to
// choose runs on XWayland, says so, and its windows open, go full screen and
// move as on X11. With QT_QPA_PLATFORM=wayland set by the user it runs
// natively and still plays.
//
// The test itself is an X client of the same XWayland server; xdotool and
// xwininfo see and drive the player's X windows. Skips outside such a session
// or without the tools, the player or disc B.

#include "tests/support/DesktopDriver.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

using velmora::testing::pixels;
using velmora::testing::runTool;
using velmora::testing::text;
using velmora::testing::twipsPerPixel;
using velmora::testing::waitFor;
using velmora::testing::xdotool;
using velmora::testing::xwininfoRect;

// The playback stream of process pid in the sound server, if it has one.
bool playsSound(qint64 pid)
{
    const QString streams = runTool(QStringLiteral("pactl"), {"list", "sink-inputs"});
    return streams.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid));
}

} // namespace

class TestWaylandSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void runsOnXWaylandAndSaysSo();
    void bothWindowsOpenInPlace();
    void homeEntersAndLeavesFullScreen();
    void dragMovesThePanel();
    void userChoiceOfNativeWayland();

private:
    QProcessEnvironment playerEnvironment() const;
    QRect window(bool video, bool frame = false) const;
    QString log();

    QTemporaryDir m_home;
    QString m_disc;
    QProcess m_player;
    QString m_log;
};

QProcessEnvironment TestWaylandSession::playerEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.insert(QLatin1String(var), m_home.filePath(QLatin1String(var)));
    // The choice of platform is the player's.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

void TestWaylandSession::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a Wayland session with XWayland (weston_session.sh)");
    for (const char *tool : {"xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs xdotool and xwininfo");
    }
    m_disc = QStringLiteral(VELMORA_DISC_DIR "/B");
    if (!QFileInfo::exists(QStringLiteral(VELMORA_PLAYER)) || !QFileInfo::exists(m_disc + "/VIDEO_TS/VIDEO_TS.IFO"))
        QSKIP("needs the player and disc B");

    m_player.setProcessEnvironment(playerEnvironment());
    m_player.setProcessChannelMode(QProcess::MergedChannels);
    m_player.start(QStringLiteral(VELMORA_PLAYER), {m_disc});
    QVERIFY2(waitFor([this] { return window(false).isValid() && window(true).isValid(); }, 20000),
             qPrintable("the two windows did not come up; log:\n" + log()));
}

void TestWaylandSession::cleanupTestCase()
{
    if (m_player.state() != QProcess::NotRunning) {
        m_player.kill();
        m_player.waitForFinished();
    }
}

QString TestWaylandSession::log()
{
    m_log += QString::fromLocal8Bit(m_player.readAll());
    return m_log;
}

// The panel or the video window (the taller one).
QRect TestWaylandSession::window(bool video, bool frame) const
{
    const QString ids = xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()),
                                 "--name", "^Velmora$"});
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts)) {
        const QRect r = xwininfoRect(id, false);
        if (r.isValid() && (r.height() > 200) == video)
            return frame ? xwininfoRect(id, true) : r;
    }
    return {};
}

void TestWaylandSession::runsOnXWaylandAndSaysSo()
{
    QVERIFY2(waitFor([this] { return log().contains(QLatin1String("XWayland (Qt platform \"xcb\")")); }, 5000),
             qPrintable(log()));
    QCOMPARE(m_log.count(QLatin1String("Qt platform")), 1);
    QVERIFY(m_log.contains(QLatin1String("MPRIS")));
    // The global keys are read from X: no fallback to the windows' own keys.
    QVERIFY2(!m_log.contains(QLatin1String("no X11 input here")), qPrintable(m_log));
}

void TestWaylandSession::bothWindowsOpenInPlace()
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const double tpp = twipsPerPixel();
    // The panel centred for its designer width, its top 3510 twips above the
    // screen's bottom; the video window centred, 1200 twips above the middle.
    // Weston may show the panel at a place of its own choosing first; the
    // panel's layout pass then puts it at its place.
    const QPoint panelAt(pixels((screen.width() * tpp - 6315) / 2), pixels(screen.height() * tpp - 3510));
    QRect panel;
    QVERIFY2(waitFor([&] {
        panel = window(false);
        return (panel.topLeft() - panelAt).manhattanLength() <= 2;
    }, 5000),
             qPrintable("panel at " + text(panel) + QStringLiteral(", expected %1,%2").arg(panelAt.x()).arg(panelAt.y())));
    QRect outer;
    QPoint videoAt;
    QVERIFY2(waitFor([&] {
        outer = window(true, true);
        videoAt = QPoint(pixels((screen.width() - outer.width()) * tpp / 2),
                         pixels((screen.height() - outer.height()) * tpp / 2 - 1200));
        return (outer.topLeft() - videoAt).manhattanLength() <= 2;
    }, 5000),
             qPrintable("video window at " + text(outer) + QStringLiteral(", expected %1,%2").arg(videoAt.x()).arg(videoAt.y())));
    QVERIFY2(outer.top() < panel.top(), "the video window is not above the panel");
}

void TestWaylandSession::homeEntersAndLeavesFullScreen()
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const QRect normal = window(true);
    // Generous waits: the compositor, Xwayland and the player share two
    // loaded cores here.
    xdotool({"key", "Home"});
    QVERIFY2(waitFor([&] { return window(true) == QRect(QPoint(0, 0), screen); }, 10000),
             qPrintable("after Home: " + text(window(true)) + "; player's log:\n" + log()));
    // Back at its size. Where is the compositor's: weston 10 puts it back
    // 32 pixels up and left of where it was (its frame margin).
    xdotool({"key", "Home"});
    QVERIFY2(waitFor([&] {
        const QRect back = window(true);
        return back.size() == normal.size() && QRect(QPoint(0, 0), screen).contains(back);
    }, 10000), qPrintable("after the second Home: " + text(window(true)) + ", was " + text(normal)));
}

void TestWaylandSession::dragMovesThePanel()
{
    // The drag must come as real pointer input through the compositor: with
    // its headless backend there is none, and XTest pointer buttons make
    // Xwayland 22.1 abort. weston_session.sh --nested runs weston as a
    // window of the outer X display, whose pointer xdotool moves.
    const QString outer = qEnvironmentVariable("VELMORA_OUTER_DISPLAY");
    if (outer.isEmpty())
        QSKIP("drags need weston nested in an X display (weston_session.sh --nested)");
    const auto outerTool = [&](const QStringList &args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), outer);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    };
    // Where the session's screen is on the outer display: weston's window.
    const QString westonWindow = outerTool({"search", "--class", "^Weston Compositor$"})
                                     .section(u'\n', 0, 0);
    QVERIFY2(!westonWindow.isEmpty(), "weston's window is not on the outer display");
    // Its client area's corner (xdotool's may be the frame's).
    QProcess info;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), outer);
    info.setProcessEnvironment(env);
    info.start(QStringLiteral("xwininfo"), {"-id", westonWindow});
    info.waitForFinished(10000);
    QPoint offset;
    for (const QString &line : QString::fromLocal8Bit(info.readAllStandardOutput()).split(u'\n')) {
        if (line.contains(QLatin1String("Absolute upper-left X")))
            offset.setX(line.section(u':', 1).trimmed().toInt());
        if (line.contains(QLatin1String("Absolute upper-left Y")))
            offset.setY(line.section(u':', 1).trimmed().toInt());
    }
    const auto mouseTo = [&](const QPoint &p) {
        outerTool({"mousemove", QString::number(offset.x() + p.x()), QString::number(offset.y() + p.y())});
    };

    const QRect before = window(false);
    const QPoint start = before.topLeft() + QPoint(20, 100); // bare background
    const QPoint delta(-120, -80);
    mouseTo(start);
    QTest::qWait(300);
    outerTool({"mousedown", "1"});
    QTest::qWait(300);
    for (int step = 1; step <= 10; ++step) {
        mouseTo(start + delta * step / 10);
        QTest::qWait(50);
    }
    outerTool({"mouseup", "1"});
    const QPoint want = before.topLeft() + delta;
    QRect after;
    QVERIFY2(waitFor([&] {
        after = window(false);
        return (after.topLeft() - want).manhattanLength() <= 4;
    }), qPrintable("from " + text(before) + " to " + text(after)));
    QCOMPARE(after.size(), before.size());
}

void TestWaylandSession::userChoiceOfNativeWayland()
{
    // One player per user: a second start would hand over to the first.
    m_player.kill();
    m_player.waitForFinished();
    QProcessEnvironment env = playerEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    QProcess native;
    native.setProcessEnvironment(env);
    native.setProcessChannelMode(QProcess::MergedChannels);
    native.start(QStringLiteral(VELMORA_PLAYER), {m_disc});
    QString out;
    const bool said = waitFor([&] {
        out += QString::fromLocal8Bit(native.readAll());
        return out.contains(QLatin1String("natively on Wayland"));
    }, 15000);
    // It plays: its sound stream reaches the sound server (when there is one).
    const bool sound = QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty()
        || waitFor([&] { return playsSound(native.processId()); }, 15000);
    const bool running = native.state() == QProcess::Running;
    native.kill();
    native.waitForFinished();
    out += QString::fromLocal8Bit(native.readAll());
    QVERIFY2(said, qPrintable(out));
    QVERIFY2(running, qPrintable(out));
    QVERIFY2(out.contains(QLatin1String("as QT_QPA_PLATFORM asks")), qPrintable(out));
    QVERIFY2(sound, qPrintable("no sound stream; log:\n" + out));
}

QTEST_MAIN(TestWaylandSession)
#include "test_wayland_session.moc"
