// End to end on a real X display with a window manager: the player runs as
// its own process on disc B while an xterm holds the focus, and xdotool types
// the global shortcuts. The picture's colour tells which chapter plays.
//
// Needs xdotool and xterm, the player binary and the authored discs; skips
// when one is missing.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList &args) { return run(QStringLiteral("xdotool"), args); }

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (condition())
            return true;
        QTest::qWait(100);
    }
    return condition();
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 40 && qAbs(a.green() - b.green()) <= 40 && qAbs(a.blue() - b.blue()) <= 40;
}

const QColor Cyan(30, 170, 200);   // disc B chapter 1
const QColor Orange(240, 130, 20); // disc B chapter 2

} // namespace

class TestShortcutsX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void playsFromTheCommandLine();
    void chapterStopPlayKeys();
    void fastForwardKey();
    void muteKey();
    void fullScreenKey();
    void helpKey();
    void altF4LeavesThePlayer();
    void f4Exits();

private:
    QRect windowGeometry(const QString &id) const;
    QRect videoWindow() const;
    QColor pictureColour() const;
    QImage grab(const QRect &r) const;
    void focusXterm();
    void key(const QString &keys);

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
            QSKIP(qPrintable(QStringLiteral("needs %1").arg(QLatin1String(tool))));
    }
    const QString player = QStringLiteral(VELMORA_PLAYER);
    const QString disc = QStringLiteral(VELMORA_DISC_DIR "/B");
    if (!QFileInfo::exists(player))
        QSKIP("the player is not built");
    if (!QFileInfo::exists(disc + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO")))
        QSKIP("disc B is not authored");

    // Something else holds the focus: a terminal that only sleeps, so the
    // keys typed into it do nothing there.
    m_xterm.start(QStringLiteral("xterm"), {"-geometry", "40x5+0-0", "-title", "focus-holder", "-e", "sleep", "600"});
    QVERIFY(m_xterm.waitForStarted());
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
    m_player.start(player, {disc});
    QVERIFY(m_player.waitForStarted());
    QVERIFY2(waitFor([this] { return videoWindow().isValid(); }, 15000), "no video window");
    focusXterm();
}

void TestShortcutsX11::cleanupTestCase()
{
    if (m_player.state() != QProcess::NotRunning) {
        m_player.kill();
        m_player.waitForFinished();
    }
    if (m_xterm.state() != QProcess::NotRunning) {
        m_xterm.kill();
        m_xterm.waitForFinished();
    }
}

QRect TestShortcutsX11::windowGeometry(const QString &id) const
{
    QRect r;
    for (const QString &line : xdotool({"getwindowgeometry", "--shell", id}).split(u'\n')) {
        const QString name = line.section(u'=', 0, 0);
        const int value = line.section(u'=', 1).toInt();
        if (name == QLatin1String("X"))
            r.moveLeft(value);
        else if (name == QLatin1String("Y"))
            r.moveTop(value);
        else if (name == QLatin1String("WIDTH"))
            r.setWidth(value);
        else if (name == QLatin1String("HEIGHT"))
            r.setHeight(value);
    }
    return r;
}

// Of the player's two visible windows, the video window is the taller one.
QRect TestShortcutsX11::videoWindow() const
{
    QRect best;
    const QString ids = xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()),
                                 "--name", "^Velmora$"});
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts)) {
        const QRect r = windowGeometry(id);
        if (r.height() > best.height() && r.height() > 200)
            best = r;
    }
    return best;
}

QImage TestShortcutsX11::grab(const QRect &r) const
{
    return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
}

// The picture's background, left of the circle and below the captions.
QColor TestShortcutsX11::pictureColour() const
{
    const QRect video = videoWindow();
    if (!video.isValid())
        return {};
    const QImage shot = grab(video);
    return shot.pixelColor(int(shot.width() * 0.18), int(shot.height() * 0.55));
}

void TestShortcutsX11::focusXterm()
{
    QVERIFY(waitFor([this] {
        xdotool({"windowactivate", "--sync", m_xtermWindow});
        QTest::qWait(300);
        return xdotool({"getactivewindow"}) == m_xtermWindow;
    }, 5000));
}

void TestShortcutsX11::key(const QString &keys)
{
    // Straight to the server, as typed; the xterm has the focus.
    xdotool({"key", "--clearmodifiers", keys});
}

void TestShortcutsX11::playsFromTheCommandLine()
{
    QVERIFY2(waitFor([this] { return near(pictureColour(), Cyan); }, 15000),
             qPrintable(QStringLiteral("picture is %1").arg(pictureColour().name())));
}

void TestShortcutsX11::chapterStopPlayKeys()
{
    focusXterm();
    key(QStringLiteral("Right"));
    QVERIFY2(waitFor([this] { return near(pictureColour(), Orange); }, 4000),
             qPrintable(QStringLiteral("after Right: %1").arg(pictureColour().name())));
    key(QStringLiteral("Left"));
    QVERIFY2(waitFor([this] { return near(pictureColour(), Cyan); }, 4000),
             qPrintable(QStringLiteral("after Left: %1").arg(pictureColour().name())));
    // Stopped, the video shows no picture; Enter plays again.
    key(QStringLiteral("space"));
    QVERIFY2(waitFor([this] { return near(pictureColour(), Qt::black); }, 4000),
             qPrintable(QStringLiteral("after Space: %1").arg(pictureColour().name())));
    key(QStringLiteral("Return"));
    QVERIFY2(waitFor([this] { return near(pictureColour(), Cyan); }, 5000),
             qPrintable(QStringLiteral("after Return: %1").arg(pictureColour().name())));
}

void TestShortcutsX11::fastForwardKey()
{
    QVERIFY(waitFor([this] { return near(pictureColour(), Cyan); }, 3000));
    focusXterm();
    key(QStringLiteral("Next"));
    // 32 times normal speed leaves chapter 1 (10 s) within a second.
    const bool left = waitFor([this] { return !near(pictureColour(), Cyan); }, 4000);
    key(QStringLiteral("space"));
    QTest::qWait(700);
    key(QStringLiteral("Return"));
    QVERIFY2(left, qPrintable(QStringLiteral("after Page Down: %1").arg(pictureColour().name())));
}

void TestShortcutsX11::muteKey()
{
    // The mute button swaps its picture: compare the panel before and after.
    const QString ids = xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()),
                                 "--name", "^Velmora$"});
    QRect panel;
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts)) {
        const QRect r = windowGeometry(id);
        if (r.height() < 200)
            panel = r;
    }
    QVERIFY(panel.isValid());
    // Leave out the seek bar's row, which moves while playing.
    const QRect buttons(panel.x(), panel.y() + panel.height() / 2, panel.width(), panel.height() / 2);
    const QImage before = grab(buttons);
    focusXterm();
    key(QStringLiteral("m"));
    QVERIFY2(waitFor([&] { return grab(buttons) != before; }, 3000), "M did not change the mute button");
    key(QStringLiteral("m"));
    QVERIFY2(waitFor([&] { return grab(buttons) == before; }, 3000), "a second M did not restore it");
}

void TestShortcutsX11::fullScreenKey()
{
    const QRect normal = videoWindow();
    const QSize screen = QGuiApplication::primaryScreen()->size();
    focusXterm();
    key(QStringLiteral("Home"));
    QVERIFY2(waitFor([&] { return videoWindow().size() == screen; }, 4000), "Home did not fill the screen");
    key(QStringLiteral("Home"));
    QVERIFY2(waitFor([&] { return videoWindow().size() == normal.size(); }, 4000), "Home did not come back");
}

void TestShortcutsX11::helpKey()
{
    focusXterm();
    key(QStringLiteral("F1"));
    QVERIFY2(waitFor([&] {
        return !xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()), "--name", "^帮助$"})
                    .isEmpty();
    }, 3000), "F1 showed no Help");
}

void TestShortcutsX11::altF4LeavesThePlayer()
{
    focusXterm();
    key(QStringLiteral("alt+F4"));
    QVERIFY2(m_xterm.waitForFinished(5000), "the window manager did not close the xterm");
    QTest::qWait(1500); // three ticks
    QCOMPARE(m_player.state(), QProcess::Running);
}

void TestShortcutsX11::f4Exits()
{
    const QString children = run(QStringLiteral("pgrep"), {"-P", QString::number(m_player.processId())});
    key(QStringLiteral("F4"));
    QVERIFY2(m_player.waitForFinished(5000), "F4 did not end the player");
    QCOMPARE(m_player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_player.exitCode(), 0);
    for (const QString &pid : children.split(u'\n', Qt::SkipEmptyParts))
        QVERIFY2(!QFileInfo::exists(QStringLiteral("/proc/") + pid), qPrintable("child left: " + pid));
}

QTEST_MAIN(TestShortcutsX11)
#include "test_shortcuts_x11.moc"
