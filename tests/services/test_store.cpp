// The registry and settings stores over real database files.
#include "services/RegStore.h"
#include "services/Settings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <cstdio>

using namespace velmora;

namespace {

const QString Hkcu = QStringLiteral("hkcu");
const QString LoopKey = QStringLiteral("Software\\Loop");

// Child process modes: the test binary runs itself with one of these.
int writeLoop(const QString &path, const QString &tag, int count)
{
    reg store(path);
    for (int i = 0; count < 0 || i < count; ++i) {
        store.CreateValue(Hkcu, LoopKey, tag + QString::number(i), QString::number(i));
        // Printed only after the write returned: every number seen by the
        // parent is a write that must survive.
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
    return 0;
}

int g_warnings = 0;
QtMessageHandler g_previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("not a valid database")))
        ++g_warnings;
    g_previousHandler(type, context, message);
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString dbPath(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".db")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Nothing here may touch the user's own store.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    }

    void loadKey()
    {
        reg store(dbPath(QStringLiteral("loadkey")));
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QStringLiteral("fallback")), QStringLiteral("fallback"));
        store.WriteKey(QStringLiteral("DVD"), QStringLiteral("   "));
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QStringLiteral("fallback")), QStringLiteral("fallback"));
        store.WriteKey(QStringLiteral("DVD"), QStringLiteral("/media/disc"));
        QCOMPARE(store.LoadKey(QStringLiteral("dvd"), QStringLiteral("fallback")), QStringLiteral("/media/disc"));
        store.DelKey(QStringLiteral("Dvd"));
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QString()), QString());
    }

    void getValueReadsIntoTheBuffer()
    {
        reg store(dbPath(QStringLiteral("buffer")));
        const QString missing = store.GetValue(Hkcu, LoopKey, QStringLiteral("none"));
        QCOMPARE(missing, QString(260, QChar(0)));
        QCOMPARE(CutAtNull(missing), QString());

        store.CreateValue(Hkcu, LoopKey, QStringLiteral("v"), QStringLiteral("  abc"));
        const QString padded = store.GetValue(Hkcu, LoopKey, QStringLiteral("v"));
        QCOMPARE(padded.size(), 260 - 2);   // leading spaces trimmed, NULs fill 260 bytes
        QCOMPARE(CutAtNull(padded), QStringLiteral("abc"));
    }

    void longValuesComeBackWhole_data()
    {
        QTest::addColumn<QString>("path");
        const QString word = QStringLiteral("中文视频文件夹");   // 7 characters, 21 bytes
        QString thirty = QStringLiteral("/");
        while (thirty.toUtf8().size() < 300)
            thirty += word + u'/';
        QTest::newRow("87 Chinese characters, 261 bytes") << QString(87, QChar(0x5f71));
        QTest::newRow("Chinese path over 300 bytes") << thirty;
        QTest::newRow("exactly 259 bytes") << QString(259, u'a');
        QTest::newRow("exactly 260 bytes") << QString(260, u'b');
        QTest::newRow("4000 ASCII bytes") << QString(4000, u'c');
    }
    void longValuesComeBackWhole()
    {
        QFETCH(QString, path);
        {
            reg store(dbPath(QStringLiteral("long")));
            store.WriteKey(QStringLiteral("DVD"), path);
        }
        reg store(dbPath(QStringLiteral("long")));
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QString()), path);
        QCOMPARE(CutAtNull(store.GetValue(Hkcu, SettingsKeyPath, QStringLiteral("DVD"))), path);
    }

    void rootNames()
    {
        reg store(dbPath(QStringLiteral("roots")));
        QCOMPARE(reg::RootKeyHandle(QStringLiteral("HKCU")), 0x80000001u);
        QCOMPARE(reg::RootKeyHandle(QStringLiteral("hkcr")), 0x80000000u);
        QCOMPARE(reg::RootKeyHandle(QStringLiteral("HkLm")), 0x80000002u);
        QCOMPARE(reg::RootKeyHandle(QStringLiteral("hkcc")), 0x80000005u);
        QCOMPARE(reg::RootKeyHandle(QStringLiteral("hku")), 0u);

        store.CreateValue(QStringLiteral("HKCU"), QStringLiteral("Software\\A"), QStringLiteral("x"), QStringLiteral("1"));
        QCOMPARE(CutAtNull(store.GetValue(QStringLiteral("hkcu"), QStringLiteral("software\\a"), QStringLiteral("X"))), QStringLiteral("1"));
        // The roots are separate trees.
        QCOMPARE(CutAtNull(store.GetValue(QStringLiteral("hklm"), QStringLiteral("Software\\A"), QStringLiteral("x"))), QString());
        // A name that is no root addresses nothing, for writes and reads alike.
        store.CreateValue(QStringLiteral("hku"), QStringLiteral("Software\\A"), QStringLiteral("x"), QStringLiteral("2"));
        QCOMPARE(store.GetValue(QStringLiteral("hku"), QStringLiteral("Software\\A"), QStringLiteral("x")), QString(260, QChar(0)));
        QCOMPARE(CutAtNull(store.GetValue(Hkcu, QStringLiteral("Software\\A"), QStringLiteral("x"))), QStringLiteral("1"));
    }

    void favourites()
    {
        reg store(dbPath(QStringLiteral("favourites")));
        QCOMPARE(store.EnumFavoritos(), QStringList());
        store.AdicionarFavorito(QStringLiteral("Filmes"), QStringLiteral("/a"));
        store.AdicionarFavorito(QStringLiteral("Séries"), QStringLiteral("/b"));
        store.AdicionarFavorito(QStringLiteral("动画"), QStringLiteral("/c"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{QStringLiteral("Filmes"), QStringLiteral("Séries"), QStringLiteral("动画")}));
        // Replacing keeps the place and the first spelling. The trim happens
        // before the NULs are cut, so only leading spaces go.
        store.AdicionarFavorito(QStringLiteral("FILMES"), QStringLiteral(" /d "));
        QCOMPARE(store.EnumFavoritos().first(), QStringLiteral("Filmes"));
        QCOMPARE(store.Favorito(QStringLiteral("filmes")), QStringLiteral("/d "));
        QCOMPARE(store.Favorito(QStringLiteral("nenhum")), QString());
        store.RemoverFavorito(QStringLiteral("séries"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{QStringLiteral("Filmes"), QStringLiteral("动画")}));

        store.AdicionarFavorito(QStringLiteral("d"), QStringLiteral("/d"));
        store.AdicionarFavorito(QStringLiteral("e"), QStringLiteral("/e"));
        store.AdicionarFavorito(QStringLiteral("f"), QStringLiteral("/f"));
        QCOMPARE(store.EnumFavoritos().size(), 5);
        store.LimparFavoritos();
        QCOMPARE(store.EnumFavoritos(), QStringList());
        // The settings key beside it is not touched.
        store.WriteKey(QStringLiteral("DVD"), QStringLiteral("/keep"));
        store.LimparFavoritos();
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/keep"));
    }

    void enumerationStopsAtItsLimits()
    {
        reg store(dbPath(QStringLiteral("limits")));
        store.AdicionarFavorito(QStringLiteral("a"), QString(3999, u'x'));   // fits with its NUL
        store.AdicionarFavorito(QStringLiteral("b"), QString(4000, u'x'));   // does not
        store.AdicionarFavorito(QStringLiteral("c"), QStringLiteral("/c"));
        QCOMPARE(store.EnumFavoritos(), QStringList{QStringLiteral("a")});
        store.RemoverFavorito(QStringLiteral("b"));
        store.AdicionarFavorito(QString(259, u'n'), QStringLiteral("/n"));  // 259 + NUL fits
        store.AdicionarFavorito(QString(260, u'm'), QStringLiteral("/m"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{QStringLiteral("a"), QStringLiteral("c"), QString(259, u'n')}));
    }

    void shortIsTheCanonicalPath()
    {
        reg store(dbPath(QStringLiteral("short")));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("real/VIDEO_TS")));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("real")), m_dir.filePath(QStringLiteral("alias"))));
        const QString canonical = QFileInfo(m_dir.filePath(QStringLiteral("real/VIDEO_TS"))).canonicalFilePath();
        QCOMPARE(store.Short(m_dir.filePath(QStringLiteral("alias/../real/./VIDEO_TS"))), canonical);
        QCOMPARE(store.Short(m_dir.filePath(QStringLiteral("alias/VIDEO_TS"))), canonical);
        QCOMPARE(store.Short(m_dir.filePath(QStringLiteral("missing"))), QString());
        QCOMPARE(store.Short(QString()), QString());
    }

    void settings()
    {
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey), QString());
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("d")), QStringLiteral("d"));
        SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/media/影片"));
        QCOMPARE(GetSetting(QStringLiteral("dev udovezo"), QStringLiteral("SETTINGS"), QStringLiteral("dvddirectory")), QStringLiteral("/media/影片"));
        // The menu's Stop reads under another application name.
        QCOMPARE(GetSetting(DvdSettingsAppMenuStop, DvdSettingsSection, DvdDirectoryKey), QString());
        SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QString());
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("d")), QString());
        // The per-user file is where the environment says, shared with the registry.
        QCOMPARE(defaultStorePath(), m_dir.filePath(QStringLiteral("config/velmora/velmora.db")));
        QVERIFY(QFile::exists(defaultStorePath()));
        RegStore().WriteKey(QStringLiteral("DVD"), QStringLiteral("/shared"));
        QCOMPARE(reg(defaultStorePath()).LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/shared"));
        releaseRegStore();
        QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/shared"));
    }

    void killedWriterLosesNothingThatReturned()
    {
        const QString path = dbPath(QStringLiteral("killed"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-loop"), path, QStringLiteral("v"), QStringLiteral("-1")});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (out.count('\n') < 150 && child.state() == QProcess::Running) {
            child.waitForReadyRead(5000);
            out += child.readAllStandardOutput();
        }
        child.kill();   // SIGKILL, in the middle of the loop
        QVERIFY(child.waitForFinished(5000));
        out += child.readAllStandardOutput();
        const QList<QByteArray> lines = out.left(out.lastIndexOf('\n')).split('\n');
        const int last = lines.last().toInt();
        QVERIFY2(last >= 149, out.right(100).constData());

        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        char **result = nullptr;
        int rows = 0;
        int columns = 0;
        QCOMPARE(sqlite3_get_table(raw, "PRAGMA integrity_check", &result, &rows, &columns, nullptr), SQLITE_OK);
        QCOMPARE(QByteArray(result[1]), QByteArray("ok"));
        sqlite3_free_table(result);
        sqlite3_close(raw);

        reg store(path);
        for (int i = 0; i <= last; ++i)
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, QStringLiteral("v%1").arg(i))), QString::number(i));
    }

    void twoWritersAtOnceLoseNothing()
    {
        const QString path = dbPath(QStringLiteral("shared"));
        constexpr int Count = 150;
        QProcess first;
        QProcess second;
        first.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-loop"), path, QStringLiteral("a"), QString::number(Count)});
        second.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-loop"), path, QStringLiteral("b"), QString::number(Count)});
        QVERIFY(first.waitForFinished(60000));
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        reg store(path);
        for (int i = 0; i < Count; ++i) {
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, QStringLiteral("a%1").arg(i))), QString::number(i));
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, QStringLiteral("b%1").arg(i))), QString::number(i));
        }
    }

    void brokenFileIsMovedAside()
    {
        const QString path = dbPath(QStringLiteral("garbage"));
        QByteArray garbage;
        for (int i = 0; i < 200; ++i)
            garbage += "this is not a database, just some bytes\n";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        }
        g_warnings = 0;
        g_previousHandler = qInstallMessageHandler(countWarnings);
        {
            reg store(path);
            store.WriteKey(QStringLiteral("DVD"), QStringLiteral("/fresh"));
            QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/fresh"));
        }
        qInstallMessageHandler(g_previousHandler);
        QCOMPARE(g_warnings, 1);

        const QStringList aside = QDir(m_dir.path()).entryList({QStringLiteral("garbage.db.broken-*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile kept(m_dir.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), garbage);
        QCOMPARE(reg(path).LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/fresh"));
    }

    void unusableFolderFailsQuietly()
    {
        // A database path below a plain file can never be opened.
        const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot use the settings database")));
        reg store(blocker + QStringLiteral("/velmora.db"));
        store.WriteKey(QStringLiteral("DVD"), QStringLiteral("/x"));
        QCOMPARE(store.LoadKey(QStringLiteral("DVD"), QStringLiteral("d")), QStringLiteral("d"));
        QCOMPARE(store.EnumFavoritos(), QStringList());
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--write-loop") == 0)
        return writeLoop(QFile::decodeName(argv[2]), QString::fromUtf8(argv[3]), QByteArray(argv[4]).toInt());
    QCoreApplication app(argc, argv);
    TestStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_store.moc"
