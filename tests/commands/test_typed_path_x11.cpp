// End to end on a real X display with a window manager: a user opens a disc
// folder by typing its path. O opens the folder browser; the path typed into
// it holds the shortcut letters o, m and p and spaces; Return accepts it and
// the confirm button of the chooser plays it. None of the typed keys may act
// as a shortcut: one browser only, the sound not muted, the disc plays and
// the store records the typed path.
//
// Skips without xdotool, xwininfo, sqlite3, the player binary or the authored disc.

#include "tests/support/DesktopDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using velmora::testing::runTool;
using velmora::testing::waitFor;
using velmora::testing::xdotool;

const QColor Cyan(30, 170, 200); // disc B, chapter 1

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 40 && qAbs(a.green() - b.green()) <= 40 && qAbs(a.blue() - b.blue()) <= 40;
}

const QString ChooserTitle = QStringLiteral("DVD 文件夹选择 :");

} // namespace

class TestTypedPathX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void typedPathOpensOnce();

private:
    // Window id -> title of every visible window of the player.
    QHash<QString, QString> windows() const;
    QRect geometry(const QString &id) const;
    QRect window(bool video) const;
    QImage grab(const QRect &r) const
    {
        return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
    }
    // With VELMORA_TEST_SHOTS naming a folder, each stage leaves a picture of
    // the whole screen there, to be looked at by eye.
    void snapshot(const QString &stage) const
    {
        const QString folder = qEnvironmentVariable("VELMORA_TEST_SHOTS");
        if (!folder.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(folder).filePath(stage + ".png"));
    }
    // Records every folder browser seen while waiting.
    bool waitWatching(const std::function<bool()> &condition, int ms);

    QTemporaryDir m_home;
    QTemporaryDir m_folders;
    QString m_discPath;
    QProcess m_player;
    QHash<QString, QString> m_seen; // windows other than the panel, the video window and the chooser
    QString m_browserTitle;         // the title of the first of them: the folder browser
    QSet<QString> m_browsers;       // windows with that title seen while watching
};

void TestTypedPathX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
    for (const char *tool : {"xdotool", "xwininfo", "sqlite3"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs xdotool, xwininfo and sqlite3");
    }
    const QString disc = QStringLiteral(VELMORA_DISC_DIR "/B");
    if (!QFileInfo::exists(QStringLiteral(VELMORA_PLAYER)) || !QFileInfo::exists(disc + "/VIDEO_TS/VIDEO_TS.IFO"))
        QSKIP("needs the player and disc B");
    // A disc folder whose path holds the letters of shortcuts and spaces.
    m_discPath = m_folders.filePath(QStringLiteral("mop disc"));
    QVERIFY(QFile::link(disc, m_discPath));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.insert(QLatin1String(var), m_home.filePath(QLatin1String(var)));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_player.setProcessEnvironment(env);
    m_player.setProcessChannelMode(QProcess::ForwardedChannels);
    m_player.start(QStringLiteral(VELMORA_PLAYER), {});
    QVERIFY2(waitFor([this] { return window(false).isValid() && window(true).isValid(); }, 15000),
             "the player's windows did not come up");
}

void TestTypedPathX11::cleanupTestCase()
{
    if (m_player.state() != QProcess::NotRunning) {
        m_player.kill();
        m_player.waitForFinished();
    }
}

QHash<QString, QString> TestTypedPathX11::windows() const
{
    QHash<QString, QString> out;
    if (m_player.state() == QProcess::NotRunning)
        return out;
    const QString ids = xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()), "--name", "."});
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts))
        out.insert(id, xdotool({"getwindowname", id}));
    return out;
}

// A window's client area on screen (xdotool's geometry can name the frame's
// corner under a reparenting window manager).
QRect TestTypedPathX11::geometry(const QString &id) const
{
    QHash<QString, QString> info;
    for (const QString &line : runTool(QStringLiteral("xwininfo"), {"-id", id}).split(u'\n'))
        info.insert(line.section(u':', 0, 0).trimmed(), line.section(u':', 1).trimmed());
    return QRect(info.value("Absolute upper-left X").toInt(), info.value("Absolute upper-left Y").toInt(),
                 info.value("Width").toInt(), info.value("Height").toInt());
}

// The panel or the video window (the taller one).
QRect TestTypedPathX11::window(bool video) const
{
    const QHash<QString, QString> all = windows();
    for (auto it = all.cbegin(); it != all.cend(); ++it) {
        if (it.value() != QLatin1String("Velmora"))
            continue;
        const QRect r = geometry(it.key());
        if ((r.height() > 200) == video)
            return r;
    }
    return {};
}

bool TestTypedPathX11::waitWatching(const std::function<bool()> &condition, int ms)
{
    return waitFor([&] {
        const QHash<QString, QString> all = windows();
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            if (it.value() == QLatin1String("Velmora") || it.value() == ChooserTitle)
                continue;
            m_seen.insert(it.key(), it.value());
            if (m_browserTitle.isEmpty())
                m_browserTitle = it.value();
            if (it.value() == m_browserTitle)
                m_browsers.insert(it.key());
        }
        return condition();
    }, ms);
}

void TestTypedPathX11::typedPathOpensOnce()
{
    // The mute button as it is now, the pointer out of the way.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    xdotool({"mousemove", QString::number(screen.width() - 5), "5"});
    const QRect panel = window(false);
    const QRect buttons = panel.adjusted(0, panel.height() / 2, 0, 0);
    QTest::qWait(1000);
    const QImage soundOn = grab(buttons);

    xdotool({"key", "o"});
    QVERIFY2(waitWatching([this] { return !m_browsers.isEmpty(); }, 5000), "O opened no folder browser");
    const QString browser = *m_browsers.cbegin();
    QVERIFY(waitFor([&] { return xdotool({"getactivewindow"}) == browser; }, 5000));
    // The browser's path field has the focus: the path goes there.
    xdotool({"type", "--delay", "40", m_discPath});
    QTest::qWait(700); // more than a tick with all of it typed
    snapshot(QStringLiteral("1-typed"));
    xdotool({"key", "Return"});

    QString chooser;
    QVERIFY2(waitWatching([&] {
        const QHash<QString, QString> all = windows();
        chooser = all.key(ChooserTitle);
        return !chooser.isEmpty() && !all.contains(browser);
    }, 5000), "the chooser did not follow the browser");
    // From here on any folder browser would be a second one.
    m_browsers.clear();
    // Several ticks with the chooser's path box focused.
    QVERIFY(!waitWatching([] { return false; }, 1500));

    snapshot(QStringLiteral("2-chooser"));
    // Confirm ("确认 & 播放", the right-hand button).
    const QRect form = geometry(chooser);
    xdotool({"mousemove", QString::number(form.x() + 228), QString::number(form.y() + 52)});
    xdotool({"click", "1"});
    xdotool({"mousemove", QString::number(screen.width() - 5), "5"});
    QTest::qWait(1000);
    snapshot(QStringLiteral("3-confirmed"));
    QVERIFY2(waitWatching([this] {
        const QImage shot = grab(window(true));
        return !shot.isNull() && near(shot.pixelColor(int(shot.width() * 0.18), int(shot.height() * 0.55)), Cyan);
    }, 15000), "the typed folder does not play");
    QVERIFY(!waitWatching([] { return false; }, 1500)); // three more ticks

    QStringList seen;
    for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
        seen << it.key() + ": " + it.value();
    QVERIFY2(m_browsers.isEmpty(), qPrintable("a second folder browser; windows seen: " + seen.join(u'\n')));
    QVERIFY(!windows().values().contains(ChooserTitle));
    QVERIFY2(grab(window(false).adjusted(0, panel.height() / 2, 0, 0)) == soundOn, "the sound was muted");
    QCOMPARE(m_player.state(), QProcess::Running);

    // The store records the folder as typed.
    const QString db = m_home.filePath(QStringLiteral("XDG_CONFIG_HOME/velmora/velmora.db"));
    const QString stored = runTool(QStringLiteral("sqlite3"),
                                   {db, "SELECT v.data FROM reg_values v JOIN reg_keys k ON k.id = v.key_id "
                                        "WHERE v.fold = 'dvd' AND k.fold = 'software\\halvex\\2007'"});
    QCOMPARE(stored, m_discPath);
}

QTEST_MAIN(TestTypedPathX11)
#include "test_typed_path_x11.moc"
