// Scan speeds and the time line of a key-frame scan.

#include "engine/core/ScanPlan.h"

#include <QtTest>

using namespace velmora;

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void classifiesSpeeds();
    void tracksTheAskedSpeed();
    void stopsAtTheTitleEdges();
};

void TestScan::classifiesSpeeds()
{
    using D = ScanSpeed::Direction;
    QVERIFY(ScanSpeed::from(D::Forward, 1)->isNormal() && ScanSpeed::from(D::Forward, 1)->soundOn());
    QVERIFY(ScanSpeed::from(D::Forward, 0.5)->playsEveryFrame() && !ScanSpeed::from(D::Forward, 0.5)->soundOn());
    QVERIFY(ScanSpeed::from(D::Forward, 2)->playsEveryFrame());
    QVERIFY(!ScanSpeed::from(D::Forward, 4)->playsEveryFrame());
    QVERIFY(!ScanSpeed::from(D::Backward, 1)->playsEveryFrame() && !ScanSpeed::from(D::Backward, 1)->subpicturesOn());
    for (double bad : {0.0, 3.0, 64.0, -2.0, 1.5})
        QVERIFY(!ScanSpeed::from(D::Forward, bad));
}

void TestScan::tracksTheAskedSpeed()
{
    // 8x forward from 10 s: a picture every 250 ms of wall time lands 2 s on.
    KeyFrameScan scan(*ScanSpeed::from(ScanSpeed::Direction::Forward, 8), 900000, 36000000, 5000);
    for (int i = 1; i <= 8; ++i)
        QCOMPARE(scan.next(5000 + i * KeyFrameScan::kPictureInterval).position, 900000 + i * 180000);
    // A stall of 3 s jumps ahead by 24 s instead of falling behind.
    QCOMPARE(scan.next(5000 + 8 * 22500 + 270000).position, 900000 + 8 * 180000 + 8 * 270000);

    // 4x backward; asked twice at the same wall time it still moves a unit on.
    KeyFrameScan back(*ScanSpeed::from(ScanSpeed::Direction::Backward, 4), 1800000, 3600000, 0);
    QCOMPARE(back.next(22500).position, 1800000 - 90000);
    QCOMPARE(back.next(22500).position, 1800000 - 90000 - 45000);
}

void TestScan::stopsAtTheTitleEdges()
{
    KeyFrameScan back(*ScanSpeed::from(ScanSpeed::Direction::Backward, 32), 90000, 3600000, 0);
    const KeyFrameScan::Target start = back.next(22500);
    QCOMPARE(start.position, 0);
    QCOMPARE(start.edge, KeyFrameScan::Edge::Start);

    KeyFrameScan forward(*ScanSpeed::from(ScanSpeed::Direction::Forward, 16), 3000000, 3600000, 0);
    QCOMPARE(forward.next(22500).edge, KeyFrameScan::Edge::None);
    const KeyFrameScan::Target end = forward.next(45000);
    QCOMPARE(end.position, 3600000);
    QCOMPARE(end.edge, KeyFrameScan::Edge::End);
}

QTEST_GUILESS_MAIN(TestScan)
#include "test_scan.moc"
