// The mixer's slot table and arithmetic over fake controls, and the ALSA
// backend against a running sound server.
#include "services/Mixer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <stdexcept>

using namespace velmora;

namespace {

class FakeControl final : public MixerControl
{
public:
    FakeControl(std::int32_t min, std::int32_t max) : m_min(min), m_max(max) {}
    std::int32_t minimum() const override { return m_min; }
    std::int32_t maximum() const override { return m_max; }
    bool write(std::int32_t raw) override
    {
        written = raw;
        ++writes;
        return !refuse;
    }
    bool read(std::int32_t &raw) override
    {
        if (refuse)
            return false;
        raw = value;
        return true;
    }

    std::int32_t value = 0;
    std::int32_t written = -1;
    int writes = 0;
    bool refuse = false;

private:
    std::int32_t m_min;
    std::int32_t m_max;
};

FakeControl *install(int slot, std::int32_t min, std::int32_t max)
{
    auto control = std::make_unique<FakeControl>(min, max);
    FakeControl *raw = control.get();
    mixer_detail::setSlotControl(slot, std::move(control));
    return raw;
}

} // namespace

class TestMixer : public QObject
{
    Q_OBJECT

private slots:
    void init() { mixer_detail::resetMixer(); }
    void cleanupTestCase() { mixer_detail::resetMixer(); }

    void writeScalesClampsAndReports_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("written");
        QTest::newRow("100 on 0..65535 is 100 steps of 655") << 0 << 65535 << 100 << 65500;
        QTest::newRow("65535 clamps to the top") << 0 << 65535 << 65535 << 65535;
        QTest::newRow("negative writes the minimum") << 0 << 65535 << -20 << 0;
        QTest::newRow("negative on a raised minimum") << 1000 << 65535 << -1 << 1000;
        QTest::newRow("pulse range 0..65536") << 0 << 65536 << 37 << 24235;
        QTest::newRow("small range is unscaled") << 0 << 100 << 37 << 37;
        QTest::newRow("small range clamps high") << 0 << 100 << 150 << 100;
        QTest::newRow("switch 0..1 clamps") << 0 << 1 << 5 << 1;
    }
    void writeScalesClampsAndReports()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, percent);
        QFETCH(int, written);
        FakeControl *control = install(MasterVolumeSlot, min, max);
        QVERIFY(MixerSetVolume(MasterVolumeSlot, percent));
        QCOMPARE(control->written, written);
        control->refuse = true;
        QVERIFY(!MixerSetVolume(MasterVolumeSlot, percent));
    }

    void readScalesAndRounds_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("raw");
        QTest::addColumn<int>("percent");
        QTest::newRow("top") << 0 << 65535 << 65535 << 100;
        QTest::newRow("65500 reads 100") << 0 << 65535 << 65500 << 100;
        QTest::newRow("32750 reads 50") << 0 << 65535 << 32750 << 50;
        QTest::newRow("327 reads 0 (0.499)") << 0 << 65535 << 327 << 0;
        QTest::newRow("328 reads 1 (0.5005)") << 0 << 65535 << 328 << 1;
        QTest::newRow("half rounds to even, down") << 0 << 200 << 1 << 0;
        QTest::newRow("half rounds to even, up") << 0 << 200 << 3 << 2;
        QTest::newRow("minimum is subtracted after scaling") << 10 << 1000 << 500 << 40;
        QTest::newRow("small range reads raw") << 0 << 100 << 73 << 73;
    }
    void readScalesAndRounds()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, raw);
        QFETCH(int, percent);
        FakeControl *control = install(WaveVolumeSlot, min, max);
        control->value = raw;
        QCOMPARE(MixerGetVolume(WaveVolumeSlot), percent);
        // A failed read reads as raw 0.
        control->refuse = true;
        QCOMPARE(MixerGetVolume(WaveVolumeSlot), mixer_detail::rawToPercent(0, min, max));
    }

    void slotsOutsideTheTableThrow()
    {
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, MixerSetVolume(21, 50));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, MixerSetVolume(-1, 50));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, MixerGetVolume(21));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, MixerGetVolume(-1));
        // The last slot exists, though nothing fills it.
        QVERIFY(!MixerSetVolume(20, 50));
        QCOMPARE(MixerGetVolume(20), 0);
    }

    void overflowIsAnError()
    {
        install(MasterVolumeSlot, 0, 6553500);
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, MixerSetVolume(MasterVolumeSlot, 65535));
        FakeControl *control = install(WaveVolumeSlot, 0, 65535);
        control->value = 30000000;
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, MixerGetVolume(WaveVolumeSlot));
    }

    void noDevice()
    {
        // No such card: false, and the table stays empty.
        QVERIFY(!MixerInit(64));
        QVERIFY(!MixerInit(-1));
        QVERIFY(!MixerSetVolume(MasterVolumeSlot, 50));
        QCOMPARE(MixerGetVolume(MasterVolumeSlot), 0);
    }

    void soundServerMaster()
    {
        if (!MixerInit(0))
            QSKIP("no mixer on ALSA's default device (no sound server running)");
        if (MixerGetVolume(MasterVolumeSlot) == 0 && !MixerSetVolume(MasterVolumeSlot, 0))
            QSKIP("the default device has no Master playback volume");
        QVERIFY(MixerSetVolume(MasterVolumeSlot, 37));
        QVERIFY(MixerSetVolume(MasterVolumeSlot + 7, 0));   // Master's switch: on

        // Through a fresh handle.
        mixer_detail::resetMixer();
        QVERIFY(MixerInit(0));
        QCOMPARE(MixerGetVolume(MasterVolumeSlot), 37);
        QCOMPARE(MixerGetVolume(MasterVolumeSlot + 7), 0);

        // And as another program sees it; pulse's Master is 0..65536, so 37
        // steps of 655.
        const QString amixer = QStandardPaths::findExecutable(QStringLiteral("amixer"));
        if (amixer.isEmpty())
            QSKIP("amixer is not installed");
        auto master = [&] {
            QProcess p;
            p.start(amixer, {QStringLiteral("-D"), QStringLiteral("pulse"), QStringLiteral("sget"), QStringLiteral("Master")});
            p.waitForFinished(5000);
            return QString::fromLocal8Bit(p.readAllStandardOutput());
        };
        QString out = master();
        QVERIFY2(out.contains(QLatin1String("Playback 24235 [37%] [on]")), qPrintable(out));
        QVERIFY(MixerSetVolume(MasterVolumeSlot + 7, 1));   // muted
        out = master();
        QVERIFY2(out.contains(QLatin1String("[off]")), qPrintable(out));
        QCOMPARE(MixerGetVolume(MasterVolumeSlot + 7), 1);
        QVERIFY(MixerSetVolume(MasterVolumeSlot + 7, 0));
        // A change made by another program is seen on the next read.
        QProcess::execute(amixer, {QStringLiteral("-q"), QStringLiteral("-D"), QStringLiteral("pulse"), QStringLiteral("sset"), QStringLiteral("Master"), QStringLiteral("32768")});
        QCOMPARE(MixerGetVolume(MasterVolumeSlot), 50);
    }
};

QTEST_GUILESS_MAIN(TestMixer)
#include "test_mixer.moc"
