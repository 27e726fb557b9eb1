// Resume points in the per-user database: round trip, what is ignored, and
// how many discs are kept.

#include "services/ResumeStore.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace velmora;

namespace {

const QString Disc = QStringLiteral("00112233445566778899aabbccddeeff");

QString discNumber(int n)
{
    return QStringLiteral("%1").arg(n, 32, 16, QLatin1Char('0'));
}

// Runs sql on the file directly, as another program (or a damaged file) would.
void rawSql(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    const QString message = QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(message));
}

} // namespace

class TestResumeStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_path = m_dir.filePath(QStringLiteral("store-%1.db").arg(++m_run)); }

    void roundTripReplaceAndClear()
    {
        ResumeStore store(m_path);
        QVERIFY(!store.find(Disc));
        QVERIFY(store.save(Disc, {1, "00:00:12:00"}));
        QVERIFY(store.save(Disc, {2, "01:02:03:04"}));
        QCOMPARE(ResumeStore(m_path).find(Disc), (ResumePoint{2, "01:02:03:04"}));
        store.clear(Disc);
        QVERIFY(!ResumeStore(m_path).find(Disc));
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<QString>("disc");
        QTest::addColumn<int>("title");
        QTest::addColumn<QString>("time");
        QTest::newRow("id too short") << Disc.left(31) << 1 << "00:00:12:00";
        QTest::newRow("id upper case") << Disc.toUpper() << 1 << "00:00:12:00";
        QTest::newRow("id not hex") << QString(Disc).replace(0, 1, "g") << 1 << "00:00:12:00";
        QTest::newRow("title 0") << Disc << 0 << "00:00:12:00";
        QTest::newRow("title 100") << Disc << 100 << "00:00:12:00";
        QTest::newRow("time without frames") << Disc << 1 << "00:00:12";
        QTest::newRow("time 61 s") << Disc << 1 << "00:00:61:00";
    }
    void badInputIsRefused()
    {
        QFETCH(QString, disc);
        QFETCH(int, title);
        QFETCH(QString, time);
        ResumeStore store(m_path);
        QVERIFY(!store.save(disc, {title, time}));
        QVERIFY(!store.find(disc));
    }

    void damagedOrForeignRowsAreIgnored_data()
    {
        QTest::addColumn<QString>("values");
        QTest::newRow("title as text") << "'one', '00:00:12:00', 1";
        QTest::newRow("title as real") << "1.5, '00:00:12:00', 1";
        QTest::newRow("title negative") << "-3, '00:00:12:00', 1";
        QTest::newRow("title null") << "NULL, '00:00:12:00', 1";
        QTest::newRow("time garbage") << "1, 'yesterday', 1";
        QTest::newRow("time as number") << "1, 12, 1";
        QTest::newRow("time as blob") << "1, x'3030', 1";
    }
    void damagedOrForeignRowsAreIgnored()
    {
        QFETCH(QString, values);
        ResumeStore(m_path).save(discNumber(1), {1, "00:00:01:00"}); // creates the table
        rawSql(m_path, QStringLiteral("INSERT INTO resume VALUES('%1', %2)").arg(Disc, values));
        ResumeStore store(m_path);
        QVERIFY(!store.find(Disc));
        // ...and a good write replaces the bad row.
        QVERIFY(store.save(Disc, {3, "00:10:00:00"}));
        QCOMPARE(store.find(Disc), (ResumePoint{3, "00:10:00:00"}));
    }

    void aTableOfAnotherShapeIsNotFatal()
    {
        rawSql(m_path, "CREATE TABLE resume(x TEXT)");
        ResumeStore store(m_path);
        QVERIFY(!store.save(Disc, {1, "00:00:12:00"}));
        QVERIFY(!store.find(Disc));
    }

    void theFiftyMostRecentDiscsAreKept()
    {
        ResumeStore store(m_path);
        for (int n = 0; n < ResumeStore::Kept + 5; ++n)
            QVERIFY(store.save(discNumber(n), {1, "00:00:12:00"}));
        // Rewriting an old disc makes it recent again.
        QVERIFY(store.save(discNumber(0), {1, "00:00:13:00"}));
        QVERIFY(store.save(discNumber(100), {1, "00:00:12:00"}));
        QVERIFY(store.find(discNumber(0)));
        QVERIFY(store.find(discNumber(100)));
        for (int n = 1; n <= 6; ++n)
            QVERIFY2(!store.find(discNumber(n)), qPrintable(discNumber(n)));
        QVERIFY(store.find(discNumber(7)));
        QVERIFY(store.find(discNumber(ResumeStore::Kept + 4)));
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_run = 0;
};

QTEST_GUILESS_MAIN(TestResumeStore)
#include "test_resume_store.moc"
