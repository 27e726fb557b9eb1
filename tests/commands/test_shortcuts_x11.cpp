// End to end on a real X display with a window manager: the player plays
// disc B in its own process while an xterm holds the focus, and xdotool types
// the global shortcuts. The picture's colour tells what plays (disc B:
// chapter 1 cyan, chapter 2 orange; nothing when stopped).
//
// Skips without xdotool, xterm, the player binary or the authored disc.

#include "tests/support/DesktopDriver.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using velmora::testing::waitFor;
using velmora::testing::xdotool;

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 40 && qAbs(a.green() - b.green()) <= 40 && qAbs(a.blue() - b.blue()) <= 40;
}

const QColor Cyan(30, 170, 200);
const QColor Orange(240, 130, 20);

} // namespace

class TestShortcutsX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void chapterStopAndPlay();
    void fastForward();
    void muteMirror();
    void fullScreen();
    void help();
    void altF4LeavesThePlayer();
    void f4Exits();

private:
    QRect window(bool video) const;
    QImage grab(const QRect &r) const
    {
        return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    }
    // The picture's background, left of the circle and below the captions.
    QColor picture() const
    {
        const QImage shot = grab(window(true));
        return shot.isNull() ? QColor() : shot.pixelColor(int(shot.width() * 0.18), int(shot.height() * 0.55));
    }
    bool waitForPicture(QColor colour, int ms = 5000) const
    {
        return waitFor([&] { return near(picture(), colour); }, ms);
    }
    void type(const QString &keys);

    QTemporaryDir m_home;
    QProcess m_player;
    QProcess m_xterm;
    QString m_xtermWindow;
};

void TestShortcutsX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
    for (const char *tool : {"xdotool", "xterm"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs xdotool and xterm");
    }
    const QString disc = QStringLiteral(VELMORA_DISC_DIR "/B");
    if (!QFileInfo::exists(QStringLiteral(VELMORA_PLAYER)) || !QFileInfo::exists(disc + "/VIDEO_TS/VIDEO_TS.IFO"))
        QSKIP("needs the player and disc B");

    // The focus holder only sleeps: what is typed into it does nothing there.
    m_xterm.start(QStringLiteral("xterm"), {"-geometry", "40x5+0-0", "-title", "focus-holder", "-e", "sleep", "600"});
    QVERIFY(waitFor([this] {
        m_xtermWindow = xdotool({"search", "--onlyvisible", "--name", "^focus-holder$"}).section(u'\n', 0, 0);
        return !m_xtermWindow.isEmpty();
    }, 10000));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.insert(QLatin1String(var), m_home.filePath(QLatin1String(var)));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_player.setProcessEnvironment(env);
    m_player.setProcessChannelMode(QProcess::ForwardedChannels);
    m_player.start(QStringLiteral(VELMORA_PLAYER), {disc});
    QVERIFY(waitFor([this] { return window(true).isValid(); }, 15000));
    QVERIFY2(waitForPicture(Cyan, 15000), qPrintable("the command line's disc does not play: " + picture().name()));
    // The first picture comes before the navigator has settled into the
    // title; a chapter skip in that moment is refused (and, like every
    // refused call, ignored). Let playback run a moment first.
    QTest::qWait(1500);
}

void TestShortcutsX11::cleanupTestCase()
{
    for (QProcess *p : {&m_player, &m_xterm}) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished();
        }
    }
}

// The player's visible windows: the video window is the taller one.
QRect TestShortcutsX11::window(bool video) const
{
    const QString ids = xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()),
                                 "--name", "^Velmora$"});
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts)) {
        QHash<QString, int> g;
        for (const QString &line : xdotool({"getwindowgeometry", "--shell", id}).split(u'\n'))
            g.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
        const QRect r(g.value("X"), g.value("Y"), g.value("WIDTH"), g.value("HEIGHT"));
        if ((r.height() > 200) == video)
            return r;
    }
    return {};
}

// Types keys while the xterm has the focus.
void TestShortcutsX11::type(const QString &keys)
{
    QVERIFY(waitFor([this] {
        xdotool({"windowactivate", "--sync", m_xtermWindow});
        QTest::qWait(300);
        return xdotool({"getactivewindow"}) == m_xtermWindow;
    }, 5000));
    xdotool({"key", "--clearmodifiers", keys});
}

void TestShortcutsX11::chapterStopAndPlay()
{
    type(QStringLiteral("Right"));
    QVERIFY2(waitForPicture(Orange), qPrintable("after Right: " + picture().name()));
    type(QStringLiteral("Left"));
    QVERIFY2(waitForPicture(Cyan), qPrintable("after Left: " + picture().name()));
    type(QStringLiteral("space"));
    QVERIFY2(waitForPicture(Qt::black), qPrintable("after Space: " + picture().name()));
    type(QStringLiteral("Return"));
    QVERIFY2(waitForPicture(Cyan), qPrintable("after Enter: " + picture().name()));
}

void TestShortcutsX11::fastForward()
{
    // At 32 times normal speed chapter 1 (10 s) is over within a second.
    type(QStringLiteral("Next"));
    const bool scanned = waitFor([this] { return !near(picture(), Cyan); }, 4000);
    // Stop, then play again at normal speed: the engine resumes where the
    // scan stopped, in either chapter. The keys go in separate ticks of the
    // poll: within one tick Return (play) runs before Space (stop).
    type(QStringLiteral("space"));
    QVERIFY2(waitForPicture(Qt::black), qPrintable("after Space: " + picture().name()));
    type(QStringLiteral("Return"));
    QVERIFY2(scanned, "Page Down did not scan forwards");
    QVERIFY2(waitFor([this] { return near(picture(), Cyan) || near(picture(), Orange); }, 5000),
             qPrintable("after Return: " + picture().name()));
}

void TestShortcutsX11::muteMirror()
{
    // The mute button swaps its picture (the seek bar's half of the panel moves).
    const QRect panel = window(false);
    const QRect buttons = panel.adjusted(0, panel.height() / 2, 0, 0);
    const QImage before = grab(buttons);
    type(QStringLiteral("m"));
    QVERIFY2(waitFor([&] { return grab(buttons) != before; }, 3000), "M did not change the mute button");
    type(QStringLiteral("m"));
    QVERIFY2(waitFor([&] { return grab(buttons) == before; }, 3000), "a second M did not restore it");
}

void TestShortcutsX11::fullScreen()
{
    const QSize normal = window(true).size();
    type(QStringLiteral("Home"));
    QVERIFY(waitFor([&] { return window(true).size() == QGuiApplication::primaryScreen()->size(); }, 4000));
    type(QStringLiteral("Home"));
    QVERIFY(waitFor([&] { return window(true).size() == normal; }, 4000));
}

void TestShortcutsX11::help()
{
    type(QStringLiteral("F1"));
    QVERIFY(waitFor([this] {
        return !xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()), "--name", "^帮助$"})
                    .isEmpty();
    }, 3000));
}

void TestShortcutsX11::altF4LeavesThePlayer()
{
    type(QStringLiteral("alt+F4"));
    QVERIFY2(m_xterm.waitForFinished(5000), "the window manager did not close the xterm");
    QTest::qWait(1500); // three ticks
    QCOMPARE(m_player.state(), QProcess::Running);
}

void TestShortcutsX11::f4Exits()
{
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {"-P", QString::number(m_player.processId())});
    pgrep.waitForFinished();
    const QStringList children = QString::fromLocal8Bit(pgrep.readAll()).split(u'\n', Qt::SkipEmptyParts);
    xdotool({"key", "F4"});
    QVERIFY2(m_player.waitForFinished(5000), "F4 did not end the player");
    QCOMPARE(m_player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_player.exitCode(), 0);
    for (const QString &pid : children)
        QVERIFY2(!QFileInfo::exists("/proc/" + pid), qPrintable("child left: " + pid));
}

QTEST_MAIN(TestShortcutsX11)
#include "test_shortcuts_x11.moc"
