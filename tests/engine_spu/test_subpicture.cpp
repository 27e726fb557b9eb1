// Subpicture units built by hand: decoding, rejection of damaged units,
// rendering, assembling from packets, and timing on screen.

#include "engine/spu/SubpictureAssembler.h"
#include "engine/spu/SubpictureDecoder.h"
#include "engine/spu/SubpictureImage.h"
#include "engine/spu/SubpictureTimeline.h"
#include "tests/engine_spu/SpuTestUnits.h"

#include <QtTest>

using namespace velmora;
using namespace spu_test;

Q_DECLARE_METATYPE(spu_test::Bytes)

namespace {

std::optional<Subpicture> decode(const Bytes &u, SubpictureError *error = nullptr)
{
    return decodeSubpicture(std::span<const std::uint8_t>(u.data(), u.size()), error);
}

// A unit of one control sequence at offset 4 (no pixel data), size filled in.
Bytes commandsOnly(std::initializer_list<std::uint8_t> commands)
{
    Bytes u = {0, 0, 0, 4, 0, 0, 0, 4};
    u.insert(u.end(), commands);
    u[1] = std::uint8_t(u.size());
    return u;
}

} // namespace

class TestSubpicture : public QObject
{
    Q_OBJECT

private slots:
    void decodesPixelsAndControl_data();
    void decodesPixelsAndControl();
    void appliesColourChangeRegions();
    void rejectsDamagedUnits_data();
    void rejectsDamagedUnits();
    void rendersThroughTheColourTable();
    void assemblesUnitsFromPackets();
    void timesUnitsOnScreen();
};

void TestSubpicture::decodesPixelsAndControl_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("fillToEnd");
    // All four code lengths, runs split over 255 pixels, one-pixel edges.
    QTest::newRow("pattern") << 33 << 9 << false;
    QTest::newRow("pattern, rest-of-line codes") << 33 << 9 << true;
    QTest::newRow("one pixel") << 1 << 1 << false;
    QTest::newRow("wide rows with long runs") << 720 << 6 << false;
    QTest::newRow("wide rows, rest-of-line codes") << 720 << 6 << true;
}

void TestSubpicture::decodesPixelsAndControl()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, fillToEnd);
    UnitLayout layout;
    layout.bitmap = patternBitmap(width, height);
    if (width > 100) // long runs: 20, 70, 310, 320 pixels
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                layout.bitmap[y][x] = std::uint8_t((x < 20 ? 1 : x < 90 ? 2 : x < 400 ? 3 : 0) ^ (y & 1));
    layout.fillToEnd = fillToEnd;
    layout.x = width > 100 ? 0 : 10;
    layout.y = 500;
    layout.colour = 0xA5C3;
    layout.contrast = 0x0F80;
    layout.startDelay = 3;
    layout.stopDelay = 200;

    SubpictureError error = SubpictureError::None;
    const auto sp = decode(buildUnit(layout), &error);
    QVERIFY2(sp, subpictureErrorText(error));
    QCOMPARE(QRect(sp->x, sp->y, sp->width, sp->height), QRect(layout.x, 500, width, height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (sp->pixelAt(x, y) != layout.bitmap[y][x])
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(sp->pixelAt(x, y))));
    QVERIFY(sp->displayed && !sp->forced);
    QCOMPARE(sp->colour, (SubpictureNibbles{0x3, 0xC, 0x5, 0xA}));
    QCOMPARE(sp->contrast, (SubpictureNibbles{0x0, 0x8, 0xF, 0x0}));
    QCOMPARE(sp->startDelay, 3u * 1024u);
    QCOMPARE(sp->stopDelay, std::optional<std::uint32_t>(200u * 1024u));

    layout.forced = true;
    layout.stopDelay = -1;
    const auto forced = decode(buildUnit(layout));
    QVERIFY(forced && forced->forced && !forced->stopDelay);

    // A unit that only stops shows nothing.
    const auto stop = decode(commandsOnly({0x02, 0xFF}));
    QVERIFY(stop && !stop->displayed && stop->pixels.empty());
}

void TestSubpicture::appliesColourChangeRegions()
{
    UnitLayout layout;
    layout.bitmap.assign(10, std::vector<std::uint8_t>(40, 1)); // at 100,400
    layout.colour = 0x0010;
    layout.contrast = 0x00F0;
    // Lines 403..405: from column 120 on, pattern pixels use index 7, contrast 5.
    layout.extraCommands = {0x07, 0, 16, 0x01, 0x93, 0x11, 0x95, 0x00, 0x78, 0x00, 0x70, 0x00, 0x50,
                          0x0F, 0xFF, 0xFF, 0xFF};
    const auto sp = decode(buildUnit(layout));
    QVERIFY(sp);
    ColourTable table{};
    table[1] = 0x00EB8080; // white
    table[7] = 0x00108080; // black
    const QImage image = renderSubpicture(*sp, table);
    QCOMPARE(image.pixel(19, 3), qRgba(255, 255, 255, 255)); // column 119
    QCOMPARE(image.pixel(20, 3), qRgba(0, 0, 0, 85));        // column 120, line 403
    QCOMPARE(image.pixel(39, 5), qRgba(0, 0, 0, 85));
    QCOMPARE(image.pixel(20, 6), qRgba(255, 255, 255, 255)); // line 406
}

void TestSubpicture::rejectsDamagedUnits_data()
{
    QTest::addColumn<Bytes>("unit");
    QTest::addColumn<int>("expected");
    UnitLayout layout;
    layout.bitmap = patternBitmap(16, 6);
    const Bytes good = buildUnit(layout);
    const std::size_t first = (std::size_t(good[2]) << 8) | good[3];
    const std::size_t lastNext = good.size() - 4; // "next" field of the stopping sequence
    auto with = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        Bytes u = good;
        std::copy(bytes.begin(), bytes.end(), u.begin() + std::ptrdiff_t(at));
        return u;
    };
    using E = SubpictureError;
    QTest::newRow("empty") << Bytes{} << int(E::TooShort);
    QTest::newRow("truncated") << Bytes(good.begin(), good.end() - 5) << int(E::SizeMismatch);
    QTest::newRow("control offset past end") << with(2, {0xFF, 0xF0}) << int(E::BadControlOffset);
    QTest::newRow("control offset in header") << with(2, {0, 2}) << int(E::BadControlOffset);
    QTest::newRow("next offset past end") << with(lastNext, {0x7F}) << int(E::BadControlOffset);
    QTest::newRow("chain loops back") << with(lastNext, {std::uint8_t(first >> 8), std::uint8_t(first)}) << int(E::ControlLoop);
    QTest::newRow("command cut off") << commandsOnly({0x01, 0x05, 0x00, 0x10}) << int(E::TruncatedCommand);
    QTest::newRow("CHG_COLCON past end") << commandsOnly({0x07, 0x00, 0x40, 0xFF}) << int(E::TruncatedCommand);
    QTest::newRow("no CMD_END") << commandsOnly({0x01}) << int(E::TruncatedCommand);
    QTest::newRow("start without area") << commandsOnly({0x06, 0, 4, 0, 4, 0x01, 0xFF}) << int(E::MissingDisplayArea);
    QTest::newRow("start without field offsets")
        << commandsOnly({0x05, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x01, 0xFF}) << int(E::MissingPixelData);
    QTest::newRow("area ends before it starts")
        << commandsOnly({0x05, 0x10, 0x00, 0x10, 0x00, 0x10, 0x01, 0x06, 0, 4, 0, 4, 0x01, 0xFF}) << int(E::BadDisplayArea);
    QTest::newRow("area of 4096 x 4096")
        << commandsOnly({0x05, 0x00, 0x0F, 0xFF, 0x00, 0x0F, 0xFF, 0x06, 0, 4, 0, 4, 0x01, 0xFF}) << int(E::BadDisplayArea);
    QTest::newRow("field offset past end")
        << commandsOnly({0x05, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x06, 0x40, 0, 0, 4, 0x01, 0xFF}) << int(E::BadPixelDataOffset);
}

void TestSubpicture::rejectsDamagedUnits()
{
    QFETCH(Bytes, unit);
    QFETCH(int, expected);
    SubpictureError error = SubpictureError::None;
    QVERIFY(!decode(unit, &error));
    QCOMPARE(int(error), expected);
}

void TestSubpicture::rendersThroughTheColourTable()
{
    UnitLayout layout;
    layout.bitmap = {{0, 1, 2, 3}};
    layout.colour = 0x9876;
    layout.contrast = 0xF840;
    const auto sp = decode(buildUnit(layout));
    QVERIFY(sp);
    ColourTable table{};
    table[7] = 0x00EB8080;                      // white
    table[8] = (81u << 16) | (240u << 8) | 90u; // BT.601 red
    table[9] = 0x00108080;                      // black
    const QImage image = renderSubpicture(*sp, table);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(4, 1));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(image.pixel(1, 0), qRgba(255, 255, 255, 4 * 17));
    const QRgb red = image.pixel(2, 0);
    QVERIFY(qRed(red) >= 253 && qGreen(red) <= 2 && qBlue(red) <= 2 && qAlpha(red) == 8 * 17);
    QCOMPARE(image.pixel(3, 0), qRgba(0, 0, 0, 255));
}

void TestSubpicture::assemblesUnitsFromPackets()
{
    UnitLayout layout;
    layout.bitmap = patternBitmap(300, 40);
    const Bytes unit = buildUnit(layout);
    const std::span<const std::uint8_t> all(unit.data(), unit.size());
    SubpictureAssembler assembler;

    // Split even inside the size field; padding after the unit is dropped.
    QVERIFY(!assembler.push(all.first(1), 90000));
    QVERIFY(!assembler.push(all.subspan(1, 1499), std::nullopt));
    Bytes tail(unit.begin() + 1500, unit.end());
    tail.insert(tail.end(), {0xFF, 0xFF});
    auto done = assembler.push(tail, std::nullopt);
    QVERIFY(done && done->bytes == unit && done->pts == 90000);

    // Joined mid-unit after a seek: nothing until a packet with a PTS.
    QVERIFY(!assembler.push(all.subspan(100, 200), std::nullopt));
    QVERIFY(!assembler.inProgress());
    // A unit that lost its tail gives way to the next one.
    QVERIFY(!assembler.push(all.first(300), 1000));
    done = assembler.push(all, 2000);
    QVERIFY(done && done->pts == 2000 && done->bytes == unit);
    // Declared sizes below the header are dropped; reset() forgets.
    QVERIFY(!assembler.push(Bytes{0, 3, 0, 0}, 3000));
    QVERIFY(!assembler.inProgress());
    QVERIFY(!assembler.push(all.first(300), 4000));
    assembler.reset();
    QVERIFY(!assembler.push(all.subspan(300), std::nullopt));
}

void TestSubpicture::timesUnitsOnScreen()
{
    auto unit = [](unsigned start, int stop, bool forced) {
        UnitLayout layout;
        layout.bitmap = {{1}};
        layout.startDelay = start;
        layout.stopDelay = stop;
        layout.forced = forced;
        return *decode(buildUnit(layout));
    };
    SubpictureTimeline timeline;
    // Units arrive out of order: 10 s..15 s, then 2 s..8 s (delays in 1024
    // ticks), then a forced one from 20 s without a stop.
    timeline.add(unit(0, 440, false), 900000);
    timeline.add(unit(0, 527, false), 180000);
    timeline.add(unit(0, -1, true), 1800000);
    QVERIFY(!timeline.at(100000, true));
    QCOMPARE(timeline.at(200000, true)->stopDelay, std::optional<std::uint32_t>(527 * 1024));
    QVERIFY(!timeline.at(200000, false)); // subtitles off
    QVERIFY(!timeline.at(720000, true));  // stopped at 180000 + 527 * 1024
    QVERIFY(timeline.at(900000, true));
    QVERIFY(!timeline.at(1400000, true));
    QVERIFY(timeline.at(1800000, false) && timeline.at(5000000, false)); // forced stays
    // Earlier units never come back once replaced.
    QVERIFY(!timeline.at(200000, true));
    timeline.clear();
    QVERIFY(timeline.empty() && !timeline.at(5000000, true));

    QCOMPARE(activeSubpicture(-128).physical, 0); // stream 0, display off
    QVERIFY(!activeSubpicture(-128).displayOn);
    QVERIFY(activeSubpicture(1).displayOn && activeSubpicture(1).physical == 1);
    QCOMPARE(activeSubpicture(-1).physical, -1);
}

QTEST_GUILESS_MAIN(TestSubpicture)
#include "test_subpicture.moc"
