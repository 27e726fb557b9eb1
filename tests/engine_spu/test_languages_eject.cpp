// Stream language names, and ejecting what is no drive.

#include "engine/EngineError.h"
#include "engine/device/DriveEject.h"
#include "engine/nav/LanguageNames.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

class TestLanguagesEject : public QObject
{
    Q_OBJECT

private slots:
    void namesLanguages_data();
    void namesLanguages();
    void refusesToEjectWhatIsNoDrive();
};

void TestLanguagesEject::namesLanguages_data()
{
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<QString>("name");
    QTest::newRow("en") << QByteArray("en") << "English";
    QTest::newRow("fr") << QByteArray("fr") << "French";
    QTest::newRow("de") << QByteArray("de") << "German";
    QTest::newRow("upper case") << QByteArray("ZH") << "Chinese";
    QTest::newRow("withdrawn code of 1988") << QByteArray("iw") << "Hebrew";
    QTest::newRow("none") << QByteArray("\xFF\xFF", 2) << "Unknown";
    QTest::newRow("zero") << QByteArray("\0\0", 2) << "Unknown";
    QTest::newRow("digits") << QByteArray("12") << "Unknown";
    QTest::newRow("no such language") << QByteArray("qq") << "Unknown";
}

void TestLanguagesEject::namesLanguages()
{
    QFETCH(QByteArray, letters);
    QFETCH(QString, name);
    QCOMPARE(languageName(std::uint16_t((std::uint8_t(letters[0]) << 8) | std::uint8_t(letters[1]))), name);
}

void TestLanguagesEject::refusesToEjectWhatIsNoDrive()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("光盘.iso"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(2048, '\0')) == 2048);
    file.close();
    const QString folder = dir.filePath(QStringLiteral("DISC"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/VIDEO_TS")));

    const std::pair<QString, std::int32_t> cases[] = {
        {dir.filePath(QStringLiteral("光盘 missing")), ErrorCode::NoDisc},
        {image, ErrorCode::DeviceError},
        {folder, ErrorCode::DeviceError},
        {QStringLiteral("/dev/null"), ErrorCode::DeviceError},
    };
    for (const auto &[path, code] : cases) {
        try {
            ejectDrive(path);
            QFAIL(qPrintable(path + QStringLiteral(": no exception")));
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), code);
            QVERIFY(e.message().contains(path));
        }
    }
}

QTEST_GUILESS_MAIN(TestLanguagesEject)
#include "test_languages_eject.moc"
