// The registry and settings stores over real database files.
#include "services/RegStore.h"
#include "services/Settings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

#include <sys/stat.h>

using namespace velmora;
#define S QStringLiteral

namespace {

const QString Hkcu = S("hkcu");
const QString LoopKey = S("Software\\Loop");

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
    QString dbPath(const QString &name) const { return m_dir.filePath(name + S(".db")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Nothing here may touch the user's own store.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(S("config"))));
    }

    void loadKey()
    {
        reg store(dbPath(S("loadkey")));
        QCOMPARE(store.LoadKey(S("DVD"), S("fallback")), S("fallback"));
        store.WriteKey(S("DVD"), S("   "));
        QCOMPARE(store.LoadKey(S("DVD"), S("fallback")), S("fallback"));
        store.WriteKey(S("DVD"), S("/media/disc"));
        QCOMPARE(store.LoadKey(S("dvd"), S("fallback")), S("/media/disc"));
        store.DelKey(S("Dvd"));
        QCOMPARE(store.LoadKey(S("DVD"), QString()), QString());
    }

    void getValueReadsIntoTheBuffer()
    {
        reg store(dbPath(S("buffer")));
        const QString missing = store.GetValue(Hkcu, LoopKey, S("none"));
        QCOMPARE(missing, QString(260, QChar(0)));
        QCOMPARE(CutAtNull(missing), QString());

        store.CreateValue(Hkcu, LoopKey, S("v"), S("  abc"));
        const QString padded = store.GetValue(Hkcu, LoopKey, S("v"));
        QCOMPARE(padded.size(), 260 - 2);   // leading spaces trimmed, NULs fill 260 bytes
        QCOMPARE(CutAtNull(padded), S("abc"));
    }

    void longValuesComeBackWhole_data()
    {
        QTest::addColumn<QString>("path");
        const QString word = S("中文视频文件夹");   // 7 characters, 21 bytes
        QString thirty = S("/");
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
            reg store(dbPath(S("long")));
            store.WriteKey(S("DVD"), path);
        }
        reg store(dbPath(S("long")));
        QCOMPARE(store.LoadKey(S("DVD"), QString()), path);
        QCOMPARE(CutAtNull(store.GetValue(Hkcu, SettingsKeyPath, S("DVD"))), path);
    }

    void rootNames()
    {
        reg store(dbPath(S("roots")));
        store.CreateValue(S("HKCU"), S("Software\\A"), S("x"), S("1"));
        QCOMPARE(CutAtNull(store.GetValue(S("hkcu"), S("software\\a"), S("X"))), S("1"));
        // The roots are separate trees.
        QCOMPARE(CutAtNull(store.GetValue(S("hklm"), S("Software\\A"), S("x"))), QString());
        // A name that is no root addresses nothing, for writes and reads alike.
        store.CreateValue(S("hku"), S("Software\\A"), S("x"), S("2"));
        QCOMPARE(store.GetValue(S("hku"), S("Software\\A"), S("x")), QString(260, QChar(0)));
        QCOMPARE(CutAtNull(store.GetValue(Hkcu, S("Software\\A"), S("x"))), S("1"));
    }

    void favourites()
    {
        reg store(dbPath(S("favourites")));
        QCOMPARE(store.EnumFavoritos(), QStringList());
        store.AdicionarFavorito(S("Filmes"), S("/a"));
        store.AdicionarFavorito(S("Séries"), S("/b"));
        store.AdicionarFavorito(S("动画"), S("/c"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{S("Filmes"), S("Séries"), S("动画")}));
        // Replacing keeps the place and the first spelling. The trim happens
        // before the NULs are cut, so only leading spaces go.
        store.AdicionarFavorito(S("FILMES"), S(" /d "));
        QCOMPARE(store.EnumFavoritos().first(), S("Filmes"));
        QCOMPARE(store.Favorito(S("filmes")), S("/d "));
        QCOMPARE(store.Favorito(S("nenhum")), QString());
        store.RemoverFavorito(S("séries"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{S("Filmes"), S("动画")}));

        store.AdicionarFavorito(S("d"), S("/d"));
        store.AdicionarFavorito(S("e"), S("/e"));
        store.AdicionarFavorito(S("f"), S("/f"));
        QCOMPARE(store.EnumFavoritos().size(), 5);
        store.LimparFavoritos();
        QCOMPARE(store.EnumFavoritos(), QStringList());
    }

    void enumerationStopsAtItsLimits()
    {
        reg store(dbPath(S("limits")));
        store.AdicionarFavorito(S("a"), QString(3999, u'x'));   // fits with its NUL
        store.AdicionarFavorito(S("b"), QString(4000, u'x'));   // does not
        store.AdicionarFavorito(S("c"), S("/c"));
        QCOMPARE(store.EnumFavoritos(), QStringList{S("a")});
        store.RemoverFavorito(S("b"));
        store.AdicionarFavorito(QString(259, u'n'), S("/n"));  // 259 + NUL fits
        store.AdicionarFavorito(QString(260, u'm'), S("/m"));
        QCOMPARE(store.EnumFavoritos(), (QStringList{S("a"), S("c"), QString(259, u'n')}));
    }

    void shortIsTheCanonicalPath()
    {
        reg store(dbPath(S("short")));
        QVERIFY(QDir(m_dir.path()).mkpath(S("real/VIDEO_TS")));
        QVERIFY(QFile::link(m_dir.filePath(S("real")), m_dir.filePath(S("alias"))));
        const QString canonical = QFileInfo(m_dir.filePath(S("real/VIDEO_TS"))).canonicalFilePath();
        QCOMPARE(store.Short(m_dir.filePath(S("alias/../real/./VIDEO_TS"))), canonical);
        QCOMPARE(store.Short(m_dir.filePath(S("missing"))), QString());
    }

    void settings()
    {
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey), QString());
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, S("d")), S("d"));
        SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, S("/media/影片"));
        QCOMPARE(GetSetting(S("dev udovezo"), S("SETTINGS"), S("dvddirectory")), S("/media/影片"));
        // The menu's Stop reads under another application name.
        QCOMPARE(GetSetting(DvdSettingsAppMenuStop, DvdSettingsSection, DvdDirectoryKey), QString());
        SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QString());
        QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, S("d")), QString());
        // The per-user file is where the environment says, shared with the registry.
        QCOMPARE(defaultStorePath(), m_dir.filePath(S("config/velmora/velmora.db")));
        QVERIFY(QFile::exists(defaultStorePath()));
        RegStore().WriteKey(S("DVD"), S("/shared"));
        QCOMPARE(reg(defaultStorePath()).LoadKey(S("DVD"), QString()), S("/shared"));
        releaseRegStore();
        QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), S("/shared"));
    }

    void killedWriterLosesNothingThatReturned()
    {
        const QString path = dbPath(S("killed"));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {S("--write-loop"), path, S("v"), S("-1")});
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

        // A database SQLite could not read would be moved aside, losing them all.
        reg store(path);
        for (int i = 0; i <= last; ++i)
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, S("v%1").arg(i))), QString::number(i));
    }

    void twoWritersAtOnceLoseNothing()
    {
        const QString path = dbPath(S("shared"));
        constexpr int Count = 150;
        QProcess writers[2];
        for (int n = 0; n < 2; ++n)
            writers[n].start(QCoreApplication::applicationFilePath(), {S("--write-loop"), path, QString(QChar(u'a' + n)), QString::number(Count)});
        for (QProcess &writer : writers) {
            QVERIFY(writer.waitForFinished(60000));
            QCOMPARE(writer.exitCode(), 0);
        }
        reg store(path);
        for (int i = 0; i < Count; ++i) {
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, S("a%1").arg(i))), QString::number(i));
            QCOMPARE(CutAtNull(store.GetValue(Hkcu, LoopKey, S("b%1").arg(i))), QString::number(i));
        }
    }

    void brokenFileIsMovedAside()
    {
        const QString path = dbPath(S("garbage"));
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
            store.WriteKey(S("DVD"), S("/fresh"));
            QCOMPARE(store.LoadKey(S("DVD"), QString()), S("/fresh"));
        }
        qInstallMessageHandler(g_previousHandler);
        QCOMPARE(g_warnings, 1);

        const QStringList aside = QDir(m_dir.path()).entryList({S("garbage.db.broken-*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile kept(m_dir.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), garbage);
        QCOMPARE(reg(path).LoadKey(S("DVD"), QString()), S("/fresh"));
    }

    // What the store holds (the folders a user played) is that user's alone:
    // new folders 0700, the file and its companions 0600, and what earlier
    // versions left readable to everyone tightened on the first open.
    void storeIsPrivate()
    {
        auto mode = [](const QString &path) {
            struct stat st {};
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        const mode_t oldMask = ::umask(022);
        const QString fresh = m_dir.filePath(S("new/velmora"));
        reg(fresh + S("/velmora.db")).WriteKey(S("DVD"), S("/films/private"));
        QCOMPARE(mode(m_dir.filePath(S("new"))), 0700);
        QCOMPARE(mode(fresh), 0700);
        for (const QString &file : {S("velmora.db"), S("velmora.db-wal"), S("velmora.db-shm"), S("velmora.db.lock")}) {
            if (QFileInfo::exists(fresh + u'/' + file))
                QCOMPARE(mode(fresh + u'/' + file), 0600);
        }

        // As an earlier version left it: folder 0755, file 0644, value kept.
        const QString old = m_dir.filePath(S("old/velmora"));
        QVERIFY(QDir().mkpath(old));
        reg(old + S("/velmora.db")).WriteKey(S("DVD"), S("/films/old"));
        QVERIFY(::chmod(QFile::encodeName(old).constData(), 0755) == 0);
        for (const QString &file : QDir(old).entryList(QDir::Files))
            QVERIFY(::chmod(QFile::encodeName(old + u'/' + file).constData(), 0644) == 0);
        QCOMPARE(reg(old + S("/velmora.db")).LoadKey(S("DVD"), QString()), S("/films/old"));
        QCOMPARE(mode(old), 0700);
        for (const QString &file : QDir(old).entryList(QDir::Files))
            QCOMPARE(mode(old + u'/' + file), 0600);

        // A folder the caller chose under another name keeps its mode.
        const QString chosen = m_dir.filePath(S("chosen"));
        QVERIFY(QDir().mkpath(chosen));
        QVERIFY(::chmod(QFile::encodeName(chosen).constData(), 0755) == 0);
        reg(chosen + S("/x.db")).WriteKey(S("DVD"), S("/y"));
        QCOMPARE(mode(chosen), 0755);
        QCOMPARE(mode(chosen + S("/x.db")), 0600);
        ::umask(oldMask);
    }

    void unusableFolderFailsQuietly()
    {
        // A database path below a plain file can never be opened.
        const QString blocker = m_dir.filePath(S("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(S("cannot use the settings database")));
        reg store(blocker + S("/velmora.db"));
        store.WriteKey(S("DVD"), S("/x"));
        QCOMPARE(store.LoadKey(S("DVD"), S("d")), S("d"));
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
