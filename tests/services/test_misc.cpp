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
#define S QStringLiteral

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
    // Each case runs over the subtitle and the audio streams alike. Names in
    // failing and lastCall use %1 for "Subpicture" or "Audio".
    void captions_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QList<bool>>("enabled");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("caption");   // empty: unchanged
        QTest::addColumn<QString>("lastCall");
        const QStringList three{S("English"), S("Deutsch"), S("中文")};
        QTest::newRow("no streams") << QStringList() << QList<bool>() << QString() << QString() << S("%1StreamCount");
        QTest::newRow("the last enabled wins") << three << QList<bool>{true, false, true} << QString() << S("中文") << S("Get%1Language(2)");
        QTest::newRow("none enabled") << three << QList<bool>{false, false, false} << QString() << QString() << S("%1StreamEnabled(2)");
        // The test of stream 1 fails: stream 0's caption stays, stream 2 is not looked at.
        QTest::newRow("error on stream 1 of 3") << three << QList<bool>{true} << QString() << S("English") << S("%1StreamEnabled(1)");
        QTest::newRow("count fails") << three << QList<bool>{true, true, true} << S("%1StreamCount") << QString() << S("%1StreamCount");
        QTest::newRow("language fails") << three << QList<bool>{false, true, true} << S("Get%1Language") << QString() << S("Get%1Language(1)");
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
            const QString kind = subtitle ? S("Subpicture") : S("Audio");
            (subtitle ? engine.subpictureLanguages : engine.audioLanguages) = languages;
            (subtitle ? engine.subpictureEnabled : engine.audioEnabled) = enabled;
            if (!failing.isEmpty())
                engine.failures.insert(failing.arg(kind), ErrorCode::NotInTitle);
            QLabel label(S("Unknown"));
            subtitle ? DescribeSubtitle(engine, label) : DescribeAudio(engine, label);
            const QString prefix = subtitle ? S("Subtitle :") : S("Audio Language");
            QCOMPARE(label.text(), caption.isEmpty() ? S("Unknown") : prefix + caption);
            QCOMPARE(engine.calls.last(), lastCall.arg(kind));
        }
    }

    void audioRunsAfterSubtitleFailed()
    {
        ScriptedEngine engine;
        engine.failures.insert(S("SubpictureStreamCount"), ErrorCode::NoDisc);
        QLabel subtitle(S("Subtitle: Unknown"));
        QLabel audio(S("Audio: Unknown"));
        DescribeSubtitle(engine, subtitle);
        DescribeAudio(engine, audio);
        QCOMPARE(subtitle.text(), S("Subtitle: Unknown"));
        QCOMPARE(audio.text(), S("Audio LanguageFrench"));
    }

    void streamCountBeyondSixteenBits()
    {
        ScriptedEngine engine;
        engine.subpictureLanguages = QStringList(32769, S("x"));
        engine.subpictureEnabled = QList<bool>(32769, true);
        QLabel label(S("Subtitle: Unknown"));
        DescribeSubtitle(engine, label);
        QCOMPARE(label.text(), S("Subtitle: Unknown"));
        QCOMPARE(engine.calls, QStringList{S("SubpictureStreamCount")});

        // 32768 streams still fit: the last index is 32767.
        engine.subpictureLanguages = QStringList(32768, S("x"));
        engine.subpictureLanguages.last() = S("last");
        engine.subpictureEnabled = QList<bool>(32768, true);
        DescribeSubtitle(engine, label);
        QCOMPARE(label.text(), S("Subtitle :last"));
    }

    // ---- Scratch folders ----
    void virtualDrive()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(S("cache"));
        const QString runtime = dir.filePath(S("run"));
        QVERIFY(QDir().mkpath(runtime));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        const QString temp = cache + S("/velmora/Temp");
        const QString link = runtime + S("/velmora/y");
        QCOMPARE(scratchFolder(), temp);
        QCOMPARE(virtualDriveLink(), link);

        CreateVirtualDrive();
        QVERIFY(QFileInfo(temp + S("/VIDEO_TS")).isDir());
        QVERIFY(isLinkTo(link, temp));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(runtime + S("/velmora")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        CreateVirtualDrive();   // a second time changes nothing
        QVERIFY(isLinkTo(link, temp));

        // Removal: the link and the empty VIDEO_TS go, Temp stays.
        RemoveVirtualDrive();
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(temp + S("/VIDEO_TS")));
        QVERIFY(QFileInfo(temp).isDir());

        // A VIDEO_TS with files in it stays.
        CreateVirtualDrive();
        QFile file(temp + S("/VIDEO_TS/VTS_01_1.VOB"));
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
        const QString cache = dir.filePath(S("cache"));
        const QString runtime = dir.filePath(S("run"));
        const QString elsewhere = dir.filePath(S("elsewhere"));
        QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(elsewhere + S("/keep")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

        // The runtime folder itself is a link to someone else's folder.
        QVERIFY(QFile::link(elsewhere, runtime + S("/velmora")));
        CreateVirtualDrive();
        QVERIFY(!QFileInfo::exists(elsewhere + S("/y")));
        QVERIFY(!QFileInfo(elsewhere + S("/y")).isSymLink());

        // VIDEO_TS replaced by a link to an empty folder: removal leaves both.
        QVERIFY(QDir(cache + S("/velmora/Temp/VIDEO_TS")).removeRecursively());
        QVERIFY(QFile::link(elsewhere + S("/keep"), cache + S("/velmora/Temp/VIDEO_TS")));
        RemoveVirtualDrive();
        QVERIFY(QFileInfo(elsewhere + S("/keep")).isDir());
        QVERIFY(QFileInfo(cache + S("/velmora/Temp/VIDEO_TS")).isSymLink());
    }

    void virtualDriveWithoutRuntimeFolder()
    {
        QTemporaryDir dir;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path()));
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(virtualDriveLink(), dir.filePath(S("velmora/y")));
        CreateVirtualDrive();
        QVERIFY(isLinkTo(virtualDriveLink(), scratchFolder()));
        RemoveVirtualDrive();
        QVERIFY(!QFileInfo(virtualDriveLink()).isSymLink());
    }
};

QTEST_MAIN(TestMisc)
#include "test_misc.moc"
