// Time captions, seek bar positions and time codes.
#include "widgets/ProgressBar.h"
#include "widgets/VDrive.h"

#include <QTest>

using namespace velmora;

class TestVDrive : public QObject
{
    Q_OBJECT

private:
    QStringList m_messages;

private slots:
    void initTestCase()
    {
        ProgressBar::setMessageHandler([this](QWidget *, const QString &text) { m_messages.append(text); });
    }
    void init() { m_messages.clear(); }

    void parseTitleLength_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("seconds");
        QTest::newRow("chinese label") << QStringLiteral("时间: 00:12:34:15 /01:30:00:00") << 5400;
        QTest::newRow("reset caption has no blank before the slash")
            << QStringLiteral("Time: 00:00:00:00/00:00:00:00") << 1;
        QTest::newRow("largest 16-bit length") << QStringLiteral("时间: 00:00:01:00 /09:06:07:00") << 32767;
        QTest::newRow("one second more overflows") << QStringLiteral("时间: 00:00:01:00 /09:06:08:00") << 1;
        QTest::newRow("ten hours overflow at the hours") << QStringLiteral("时间: 00:00:01:00 /10:00:00:00") << 1;
        QTest::newRow("frames must be a number") << QStringLiteral("时间: 00:00:01:00 /00:01:00:xx") << 1;
        QTest::newRow("truncated total") << QStringLiteral("时间: 00:00:01:00 /00:0") << 1;
        QTest::newRow("no label") << QStringLiteral("00:00:01:00 /00:01:00:00") << 1;
        QTest::newRow("empty") << QString() << 1;
        QTest::newRow("blank-padded total is trimmed") << QStringLiteral("时间: 00:00:01:00 / 00:01:00:0") << 60;
    }
    void parseTitleLength()
    {
        QFETCH(QString, caption);
        QFETCH(int, seconds);
        TitleSeconds = 77;
        ParseTitleLength(caption);
        QCOMPARE(int(TitleSeconds), seconds);
    }

    void timeToPosition_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("754 s of 5400 rounds to 14")
            << QStringLiteral("时间: 00:12:34:15 /01:30:00:00") << 50 << 14;
        QTest::newRow("reset caption puts the bar to 0") << QStringLiteral("Time: 00:00:00:00/00:00:00:00") << 1 << 0;
        QTest::newRow("3 s of 7 s") << QStringLiteral("时间: 00:00:03:12 /00:00:07:00") << 0 << 43;
        QTest::newRow("end of title") << QStringLiteral("时间: 01:30:00:00 /01:30:00:00") << 3 << 100;
        // The title length cannot be read: the value would exceed MaxValue.
        QTest::newRow("unknown length leaves the bar") << QStringLiteral("时间: 00:12:34:15 /xx:30:00:00") << 37 << 37;
        QTest::newRow("zero length leaves the bar") << QStringLiteral("时间: 00:00:05:00 /00:00:00:00") << 37 << 37;
        QTest::newRow("unreadable current time leaves the bar")
            << QStringLiteral("时间: 0a:00:05:00 /00:10:00:00") << 37 << 37;
        QTest::newRow("current time beyond the total leaves the bar")
            << QStringLiteral("时间: 00:20:00:00 /00:10:00:00") << 37 << 37;
    }
    void timeToPosition()
    {
        QFETCH(QString, caption);
        QFETCH(int, before);
        QFETCH(int, after);
        ProgressBar seek;
        seek.resize(273, 9);
        seek.setValue(before);
        TimeToPosition(caption, seek);
        QCOMPARE(seek.Value(), after);
        // Runs on every time notification: never a message box.
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(u'|')));
    }

    void roundingIsHalfToEvenAndSixteenBit()
    {
        QCOMPARE(roundHalfEven(0.5), 0.0);
        QCOMPARE(roundHalfEven(1.5), 2.0);
        QCOMPARE(roundHalfEven(2.5), 2.0);
        QCOMPARE(roundHalfEven(-0.5), -0.0);
        QCOMPARE(roundHalfEven(-1.5), -2.0);
        QCOMPARE(roundHalfEven(13.96), 14.0);
        QCOMPARE(int(toInt16(32767.4)), 32767);
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, toInt16(32767.5));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, fieldToInt16(QStringLiteral("0:")));
        QCOMPARE(int(fieldToInt16(QStringLiteral(" 7"))), 7);
    }

    void positionToTime_data()
    {
        QTest::addColumn<int>("titleSeconds");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<QString>("seekTime");
        QTest::newRow("half of 1h30") << 5400 << 50 << 100 << QStringLiteral("00:45:00:00");
        QTest::newRow("all of 1h30") << 5400 << 100 << 100 << QStringLiteral("01:30:00:00");
        QTest::newRow("start") << 5400 << 0 << 100 << QStringLiteral("00:00:00:00");
        QTest::newRow("remainder dropped") << 7 << 50 << 100 << QStringLiteral("00:00:03:00");
        QTest::newRow("unknown length, 99") << 1 << 99 << 100 << QStringLiteral("00:00:00:00");
        QTest::newRow("unknown length, 100") << 1 << 100 << 100 << QStringLiteral("00:00:01:00");
        QTest::newRow("longest title") << 32767 << 100 << 100 << QStringLiteral("09:06:07:00");
        QTest::newRow("scale of 1000") << 3600 << 250 << 1000 << QStringLiteral("00:15:00:00");
        QTest::newRow("zero scale fails") << 5400 << 50 << 0 << QString();
    }
    void positionToTime()
    {
        QFETCH(int, titleSeconds);
        QFETCH(int, position);
        QFETCH(int, maxValue);
        QFETCH(QString, seekTime);
        TitleSeconds = qint16(titleSeconds);
        SeekTime = QStringLiteral("stale");
        PositionToTime(position, maxValue);
        QCOMPARE(SeekTime, seekTime);
    }
};

QTEST_MAIN(TestVDrive)
#include "test_vdrive.moc"
