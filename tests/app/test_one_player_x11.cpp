// One player per user, with the real binary: a later start hands its PATH to
// the running player and ends at once; without PATH it brings the player to
// the front; a socket left by a killed player is replaced.

#include "tests/support/DesktopDriver.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>

using namespace velmora::testing;
#define S QStringLiteral

class TestOnePlayerX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { stop(m_player); }
    void laterStartsHandOver();
    void staleSocketIsReplaced();

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(S("XDG_CONFIG_HOME"), m_home.filePath(S("config")));
        env.insert(S("XDG_CACHE_HOME"), m_home.filePath(S("cache")));
        env.remove(S("QT_QPA_PLATFORM"));
        return env;
    }
    void start(QProcess &player, const QString &path)
    {
        player.setProcessEnvironment(environment());
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start(S(VELMORA_PLAYER), {path});
    }
    static void stop(QProcess &player)
    {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished();
        }
    }
    // A later start: its exit status, -1 when it did not end within ms.
    int laterStart(const QStringList &args, int ms = 3000) const
    {
        QProcess later;
        later.setProcessEnvironment(environment());
        later.start(S(VELMORA_PLAYER), args);
        if (!later.waitForFinished(ms)) {
            later.kill();
            later.waitForFinished();
            return -1;
        }
        return later.exitStatus() == QProcess::NormalExit ? later.exitCode() : -1;
    }
    // The folder the player recorded last (registry value "DVD").
    QString recorded() const
    {
        sqlite3 *db = nullptr;
        QString value;
        const QByteArray file = QFile::encodeName(m_home.filePath(S("config/velmora/velmora.db")));
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt *st = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT data FROM reg_values WHERE fold = 'dvd'", -1, &st, nullptr) == SQLITE_OK
                && sqlite3_step(st) == SQLITE_ROW)
                value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return value;
    }
    QStringList visibleWindows(const QProcess &player) const
    {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(player.processId()), "--name", "^Velmora$"})
            .split(u'\n', Qt::SkipEmptyParts);
    }
    bool playerUp(QProcess &player, const QString &disc)
    {
        return waitFor([&] { return visibleWindows(player).size() == 2 && recorded() == disc; }, 20000);
    }

    QTemporaryDir m_home;
    QProcess m_player;
    QString m_socket;
    QString m_discA, m_discB, m_iso;
};

void TestOnePlayerX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
    if (QStandardPaths::findExecutable(S("xdotool")).isEmpty())
        QSKIP("needs xdotool");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        QSKIP("needs XDG_RUNTIME_DIR");
    m_socket = QDir(runtime).filePath(S("velmora.socket"));
    m_discA = S(VELMORA_DISC_DIR "/A");
    m_discB = S(VELMORA_DISC_DIR "/B");
    m_iso = S(VELMORA_DISC_DIR "/A.iso");
    if (!QFileInfo::exists(S(VELMORA_PLAYER)) || !QFileInfo::exists(m_discB + "/VIDEO_TS/VIDEO_TS.IFO")
        || !QFileInfo::exists(m_iso))
        QSKIP("needs the player and the test discs");
    // The image under a name with a space, as a file manager's address gives it.
    QVERIFY(QFile::link(m_iso, m_home.filePath(S("Disc A.iso"))));
}

void TestOnePlayerX11::laterStartsHandOver()
{
    start(m_player, m_discB);
    QVERIFY2(playerUp(m_player, m_discB), qPrintable(m_player.readAll()));
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(m_socket).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 07777, 0600u);

    // A PATH as an address: the running player plays it, the start ends at once.
    const QString image = m_home.filePath(S("Disc A.iso"));
    QCOMPARE(laterStart({QUrl::fromLocalFile(image).toString(QUrl::FullyEncoded)}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(recorded(), image, 10000);
    // The confirm records the path, then rebuilds the video window (a new
    // window) and opens the disc on a worker: let that settle before the
    // windows are listed and minimised.
    QVERIFY(playerUp(m_player, image));
    QTest::qWait(1500);

    // Without PATH: a minimised player comes back to the front. Under load
    // the rebuilt video window may still map after the first minimise: what
    // shows is minimised again until nothing does.
    QStringList shown;
    QVERIFY2(waitFor([&] {
        shown = visibleWindows(m_player);
        for (const QString &id : shown)
            xdotool({"windowminimize", id});
        return shown.isEmpty();
    }, 8000), qPrintable("still shown: " + shown.join(u' ')));
    QCOMPARE(laterStart({}), 0);
    QVERIFY2(waitFor([&] { return visibleWindows(m_player).size() == 2; }, 5000), "the player stayed minimised");
    QCOMPARE(recorded(), image);

    // Not a DVD: refused by the running player, which plays on.
    QCOMPARE(laterStart({m_home.path()}), 0);
    QTest::qWait(500);
    QCOMPARE(recorded(), image);
    QCOMPARE(m_player.state(), QProcess::Running);
    QVERIFY(m_player.readAll().contains("Not a DVD folder or image: " + QFile::encodeName(m_home.path())));
}

void TestOnePlayerX11::staleSocketIsReplaced()
{
    start(m_player, m_discB);
    QVERIFY(playerUp(m_player, m_discB));
    m_player.kill(); // leaves its socket behind
    m_player.waitForFinished();
    QVERIFY(QFileInfo(m_socket).exists());

    QProcess second;
    start(second, m_discA);
    QVERIFY2(playerUp(second, m_discA), "a stale socket kept the new player from starting");
    QCOMPARE(laterStart({m_discB}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(recorded(), m_discB, 10000);
    stop(second);
}

QTEST_MAIN(TestOnePlayerX11)
#include "test_one_player_x11.moc"
