// Stream language names and ejecting a drive.

#include "engine/EngineError.h"
#include "engine/spu/DriveEject.h"
#include "engine/spu/LanguageNames.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {
constexpr std::uint16_t code(char a, char b)
{
    return static_cast<std::uint16_t>((std::uint8_t(a) << 8) | std::uint8_t(b));
}
} // namespace

class TestLanguagesEject : public QObject
{
    Q_OBJECT

private slots:
    void namesLanguages_data();
    void namesLanguages();
    void refusesToEjectWhatIsNoDrive_data();
    void refusesToEjectWhatIsNoDrive();
};

void TestLanguagesEject::namesLanguages_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("en") << int(code('e', 'n')) << "English";
    QTest::newRow("fr") << int(code('f', 'r')) << "French";
    QTest::newRow("de") << int(code('d', 'e')) << "German";
    QTest::newRow("ja") << int(code('j', 'a')) << "Japanese";
    QTest::newRow("zh") << int(code('z', 'h')) << "Chinese";
    QTest::newRow("upper case EN") << int(code('E', 'N')) << "English";
    QTest::newRow("old code iw") << int(code('i', 'w')) << "Hebrew";
    QTest::newRow("none (0xFFFF)") << 0xFFFF << "Unknown";
    QTest::newRow("zero") << 0 << "Unknown";
    QTest::newRow("one letter") << int(code('e', 0)) << "Unknown";
    QTest::newRow("digits") << int(code('1', '2')) << "Unknown";
    QTest::newRow("no such language") << int(code('q', 'q')) << "Unknown";
}

void TestLanguagesEject::namesLanguages()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(languageName(static_cast<std::uint16_t>(code)), name);
}

void TestLanguagesEject::refusesToEjectWhatIsNoDrive_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("expected");
    QTest::newRow("missing path") << "missing" << int(ErrorCode::NoDisc);
    QTest::newRow("disc image") << "file" << int(ErrorCode::DeviceError);
    QTest::newRow("disc folder") << "folder" << int(ErrorCode::DeviceError);
    QTest::newRow("character device") << "/dev/null" << int(ErrorCode::DeviceError);
}

void TestLanguagesEject::refusesToEjectWhatIsNoDrive()
{
    QFETCH(QString, what);
    QFETCH(int, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = what;
    if (what == QLatin1String("missing")) {
        path = dir.filePath(QStringLiteral("光盘 missing"));
    } else if (what == QLatin1String("file")) {
        path = dir.filePath(QStringLiteral("光盘.iso"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2048, '\0'));
    } else if (what == QLatin1String("folder")) {
        path = dir.filePath(QStringLiteral("DISC"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/VIDEO_TS")));
    }
    try {
        ejectDrive(path);
        QFAIL("no exception");
    } catch (const EngineError &e) {
        QCOMPARE(e.code(), expected);
        QVERIFY(e.message().contains(path));
    }
}

QTEST_GUILESS_MAIN(TestLanguagesEject)
#include "test_languages_eject.moc"
