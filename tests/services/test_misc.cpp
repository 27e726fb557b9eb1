// Stream captions and scratch folders.
#include "services/StreamDescriptions.h"
#include "services/VirtualDrive.h"
#include "tests/support/ScriptedEngine.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace velmora;
using velmora::testing::ScriptedEngine;

namespace {

bool isLinkTo(const QString &link, const QString &target)
{
    const QFileInfo info(link);
    return info.isSymLink() && info.symLinkTarget() == target;
}

} // namespace

class TestMisc : public QObject
{
    Q_OBJECT

private slots:
    // ---- Stream captions ----
    void captions_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QList<bool>>("enabled");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("lastCall");
        const QStringList three{QStringLiteral("English"), QStringLiteral("Deutsch"), QStringLiteral("中文")};
        QTest::newRow("no streams") << QStringList() << QList<bool>() << QString() << QStringLiteral("Unknown") << QStringLiteral("Count");
        QTest::newRow("the last enabled wins") << three << QList<bool>{true, false, true} << QString() << QStringLiteral("中文") << QStringLiteral("Language(2)");
        QTest::newRow("none enabled") << three << QList<bool>{false, false, false} << QString() << QStringLiteral("Unknown") << QStringLiteral("Enabled(2)");
        // The test of stream 1 fails: stream 0's caption stays, stream 2 is not looked at.
        QTest::newRow("error on stream 1 of 3") << three << QList<bool>{true} << QString() << QStringLiteral("English") << QStringLiteral("Enabled(1)");
        QTest::newRow("count fails") << three << QList<bool>{true, true, true} << QStringLiteral("Count") << QStringLiteral("Unknown") << QStringLiteral("Count");
        QTest::newRow("language fails") << three << QList<bool>{false, true, true} << QStringLiteral("Language") << QStringLiteral("Unknown") << QStringLiteral("Language(1)");
    }
    void captions()
    {
        QFETCH(QStringList, languages);
        QFETCH(QList<bool>, enabled);
        QFETCH(QString, failing);
        QFETCH(QString, caption);
        QFETCH(QString, lastCall);
        for (const bool subtitle : {true, false}) {
            ScriptedEngine engine;
            const QString kind = subtitle ? QStringLiteral("Subpicture") : QStringLiteral("Audio");
            const QString prefix = subtitle ? QStringLiteral("Subtitle :") : QStringLiteral("Audio Language");
            (subtitle ? engine.subpictureLanguages : engine.audioLanguages) = languages;
            (subtitle ? engine.subpictureEnabled : engine.audioEnabled) = enabled;
            const QHash<QString, QString> names{{QStringLiteral("Count"), kind + QStringLiteral("StreamCount")},
                                                {QStringLiteral("Language"), QStringLiteral("Get%1Language").arg(kind)}};
            if (!failing.isEmpty())
                engine.failures.insert(names.value(failing), ErrorCode::NotInTitle);
            QLabel label(subtitle ? QStringLiteral("Subtitle: Unknown") : QStringLiteral("Audio: Unknown"));
            const QString before = label.text();
            subtitle ? DescribeSubtitle(engine, label) : DescribeAudio(engine, label);
            QCOMPARE(label.text(), caption == u"Unknown" ? before : prefix + caption);

            QString expectedLast = lastCall;
            if (lastCall == u"Count")
                expectedLast = kind + QStringLiteral("StreamCount");
            else if (lastCall.startsWith(u"Enabled"))
                expectedLast = kind + QStringLiteral("Stream") + lastCall;
            else
                expectedLast = QStringLiteral("Get%1Language").arg(kind) + lastCall.mid(8);
            QCOMPARE(engine.calls.last(), expectedLast);
        }
    }

    void audioRunsAfterSubtitleFailed()
    {
        ScriptedEngine engine;
        engine.failures.insert(QStringLiteral("SubpictureStreamCount"), ErrorCode::NoDisc);
        QLabel subtitle(QStringLiteral("Subtitle: Unknown"));
        QLabel audio(QStringLiteral("Audio: Unknown"));
        DescribeSubtitle(engine, subtitle);
        DescribeAudio(engine, audio);
        QCOMPARE(subtitle.text(), QStringLiteral("Subtitle: Unknown"));
        QCOMPARE(audio.text(), QStringLiteral("Audio LanguageFrench"));
    }

    void streamCountBeyondSixteenBits()
    {
        ScriptedEngine engine;
        engine.subpictureLanguages = QStringList(32769, QStringLiteral("x"));
        engine.subpictureEnabled = QList<bool>(32769, true);
        QLabel label(QStringLiteral("Subtitle: Unknown"));
        DescribeSubtitle(engine, label);
        QCOMPARE(label.text(), QStringLiteral("Subtitle: Unknown"));
        QCOMPARE(engine.calls, QStringList{QStringLiteral("SubpictureStreamCount")});

        // 32768 streams still fit: the last index is 32767.
        engine.subpictureLanguages = QStringList(32768, QStringLiteral("x"));
        engine.subpictureLanguages.last() = QStringLiteral("last");
        engine.subpictureEnabled = QList<bool>(32768, true);
        DescribeSubtitle(engine, label);
        QCOMPARE(label.text(), QStringLiteral("Subtitle :last"));
    }

    // ---- Scratch folders ----
    void virtualDrive()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("cache"));
        const QString runtime = dir.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        const QString temp = cache + QStringLiteral("/velmora/Temp");
        const QString link = runtime + QStringLiteral("/velmora/y");
        QCOMPARE(scratchFolder(), temp);
        QCOMPARE(virtualDriveLink(), link);

        CreateVirtualDrive();
        QVERIFY(QFileInfo(temp + QStringLiteral("/VIDEO_TS")).isDir());
        QVERIFY(isLinkTo(link, temp));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(runtime + QStringLiteral("/velmora")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        CreateVirtualDrive();   // a second time changes nothing
        QVERIFY(isLinkTo(link, temp));

        // Removal: the link and the empty VIDEO_TS go, Temp stays.
        RemoveVirtualDrive();
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(temp + QStringLiteral("/VIDEO_TS")));
        QVERIFY(QFileInfo(temp).isDir());

        // A VIDEO_TS with files in it stays.
        CreateVirtualDrive();
        QFile file(temp + QStringLiteral("/VIDEO_TS/VTS_01_1.VOB"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        RemoveVirtualDrive();
        QVERIFY(file.exists());
        QVERIFY(file.remove());

        // A stale link from an earlier run is replaced; a real folder named y is left alone.
        QVERIFY(QFile::link(dir.path(), link));
        CreateVirtualDrive();
        QVERIFY(isLinkTo(link, temp));
        RemoveVirtualDrive();
        QVERIFY(QDir().mkdir(link));
        CreateVirtualDrive();
        RemoveVirtualDrive();
        QVERIFY(QFileInfo(link).isDir() && !QFileInfo(link).isSymLink());
        QVERIFY(QDir().rmdir(link));
    }

    void virtualDriveFollowsNoPlantedLink()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("cache"));
        const QString runtime = dir.filePath(QStringLiteral("run"));
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(elsewhere + QStringLiteral("/keep")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

        // The runtime folder itself is a link to someone else's folder.
        QVERIFY(QFile::link(elsewhere, runtime + QStringLiteral("/velmora")));
        CreateVirtualDrive();
        QVERIFY(!QFileInfo::exists(elsewhere + QStringLiteral("/y")));
        QVERIFY(!QFileInfo(elsewhere + QStringLiteral("/y")).isSymLink());

        // VIDEO_TS replaced by a link to an empty folder: removal leaves both.
        QVERIFY(QDir(cache + QStringLiteral("/velmora/Temp/VIDEO_TS")).removeRecursively());
        QVERIFY(QFile::link(elsewhere + QStringLiteral("/keep"), cache + QStringLiteral("/velmora/Temp/VIDEO_TS")));
        RemoveVirtualDrive();
        QVERIFY(QFileInfo(elsewhere + QStringLiteral("/keep")).isDir());
        QVERIFY(QFileInfo(cache + QStringLiteral("/velmora/Temp/VIDEO_TS")).isSymLink());
    }

    void virtualDriveWithoutRuntimeFolder()
    {
        QTemporaryDir dir;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path()));
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(virtualDriveLink(), dir.filePath(QStringLiteral("velmora/y")));
        CreateVirtualDrive();
        QVERIFY(isLinkTo(virtualDriveLink(), scratchFolder()));
        RemoveVirtualDrive();
        QVERIFY(!QFileInfo(virtualDriveLink()).isSymLink());
    }
};

QTEST_MAIN(TestMisc)
#include "test_misc.moc"
