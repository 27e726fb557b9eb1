// The engine boundary: time codes, the error type and the error-trap modes
// every handler relies on.
#include "engine/ErrorTrap.h"
#include "tests/support/NullEngine.h"
#include "engine/TimeCode.h"

#include <QtTest>

using namespace velmora;

class TestEngineBoundary : public QObject
{
    Q_OBJECT
private slots:
    void errorCodesKeepTheirValues()
    {
        QCOMPARE(ErrorCode::NoDecoder, -2147217418);
        QCOMPARE(ErrorCode::NoInterface, -2147467262);
        const std::int32_t ours[] = {ErrorCode::NoDisc, ErrorCode::NotADvd, ErrorCode::NotInTitle,
                                     ErrorCode::TimeOutOfRange, ErrorCode::ChapterOutOfRange,
                                     ErrorCode::NotAllowed, ErrorCode::InvalidArgument,
                                     ErrorCode::DeviceError, ErrorCode::Unexpected};
        QSet<std::int32_t> seen{ErrorCode::NoDecoder, ErrorCode::NoInterface};
        for (auto c : ours) {
            QVERIFY2(!seen.contains(c), "error codes must be distinct");
            seen.insert(c);
        }
    }

    void timeCodeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("zero") << "00:00:00:00" << true;
        QTest::newRow("typical") << "00:12:07:18" << true;
        QTest::newRow("long") << "99:59:59:29" << true;
        QTest::newRow("minutes 60") << "00:60:00:00" << false;
        QTest::newRow("seconds 60") << "00:00:60:00" << false;
        QTest::newRow("frames 30") << "00:00:00:30" << false;
        QTest::newRow("short") << "0:00:00:00" << false;
        QTest::newRow("letters") << "00:0a:00:00" << false;
        QTest::newRow("wrong separator") << "00.00.00.00" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("fullwidth digits") << QString::fromUtf8("００:00:00:00") << false;
    }
    void timeCodeText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto tc = TimeCode::fromText(text);
        QCOMPARE(tc.has_value(), valid);
        if (valid)
            QCOMPARE(tc->toText(), text);
    }

    void timeCodePackingRoundTrips()
    {
        const TimeCode tc{1, 45, 33, 12};
        QCOMPARE(tc.packed(), std::int32_t(0x012D210C));
        QCOMPARE(TimeCode::fromPacked(tc.packed()), tc);
        // Hours in the top byte: a large hour count must not be mistaken for a sign.
        const TimeCode big{200, 0, 0, 0};
        QCOMPARE(TimeCode::fromPacked(big.packed()).hours, 200);
    }

    void timeCodeTicks()
    {
        QCOMPARE(TimeCode({0, 0, 25, 0}).toTicks90k(25), std::int64_t(25 * 90000));
        QCOMPARE(TimeCode::fromTicks90k(90000 * 3661 + 45000, 25), TimeCode({1, 1, 1, 12}));
        QCOMPARE(TimeCode::fromTicks90k(-5, 25), TimeCode{});
        // The last frame of a second never rolls into frame fps.
        QCOMPARE(TimeCode::fromTicks90k(89999, 30).frames, 29);
    }

    void trapSkipAndContinueRemembersLastCode()
    {
        ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
        QStringList ran;
        trap.run([&] { ran << "a"; throw EngineError(ErrorCode::NoDisc, "x"); });
        trap.run([&] { ran << "b"; });
        trap.run([&] { ran << "c"; throw EngineError(ErrorCode::NoDecoder, "y"); });
        trap.run([&] { ran << "d"; });
        QCOMPARE(ran, QStringList({"a", "b", "c", "d"}));
        QCOMPARE(trap.code(), ErrorCode::NoDecoder);
        QVERIFY(!trap.stopped());
    }

    void trapStopsOnFirstFailure_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("jump to report") << int(ErrorTrap::Mode::JumpToReport);
        QTest::newRow("end on first failure") << int(ErrorTrap::Mode::EndOnFirstFailure);
    }
    void trapStopsOnFirstFailure()
    {
        QFETCH(int, mode);
        ErrorTrap trap(static_cast<ErrorTrap::Mode>(mode));
        QStringList ran;
        QVERIFY(trap.run([&] { ran << "a"; }));
        QVERIFY(!trap.run([&] { ran << "b"; throw EngineError(ErrorCode::NoInterface, "z"); }));
        QVERIFY(!trap.run([&] { ran << "c"; }));
        QCOMPARE(ran, QStringList({"a", "b"}));
        QVERIFY(trap.stopped());
        QCOMPARE(trap.code(), ErrorCode::NoInterface);
        QCOMPARE(trap.message(), QStringLiteral("z"));
    }

    void trapTakesForeignExceptions()
    {
        ErrorTrap trap(ErrorTrap::Mode::EndOnFirstFailure);
        trap.run([] { throw std::runtime_error("boom"); });
        QCOMPARE(trap.code(), ErrorCode::Unexpected);
    }

    void nullEngineRefusesButKeepsProperties()
    {
        QWidget host;
        NullEngine engine(&host);
        ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
        trap.run([&] { engine.Play(); });
        QCOMPARE(trap.code(), ErrorCode::NoDisc);
        engine.setDVDDirectory(QStringLiteral("/媒体/My Disc"));
        QCOMPARE(engine.DVDDirectory(), QStringLiteral("/媒体/My Disc"));
        engine.setMute(true);
        QVERIFY(engine.Mute());
        QCOMPARE(engine.TimeCodeToText(TimeCode{0, 12, 7, 18}.packed()), QStringLiteral("00:12:07:18"));
        QCOMPARE(engine.surface()->parentWidget(), &host);
    }
};

QTEST_MAIN(TestEngineBoundary)
#include "test_engine_boundary.moc"
