// Subpicture units: decoding, assembling from packets, rendering, and the
// units of the authored test disc.

#include "engine/spu/SubpictureAssembler.h"
#include "engine/spu/SubpictureDecoder.h"
#include "engine/spu/SubpictureImage.h"
#include "tests/engine_spu/SpuTestUnits.h"
#include "tests/engine_spu/VobReader.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

using namespace velmora;
using namespace spu_test;

Q_DECLARE_METATYPE(spu_test::Bytes)
Q_DECLARE_METATYPE(velmora::SubpictureError)

namespace {

std::optional<Subpicture> decode(const Bytes &u, SubpictureError *error = nullptr)
{
    return decodeSubpicture(std::span<const std::uint8_t>(u.data(), u.size()), error);
}

Bitmap uniformBitmap(int width, int height, std::uint8_t value)
{
    return Bitmap(std::size_t(height), std::vector<std::uint8_t>(std::size_t(width), value));
}

} // namespace

class TestSubpicture : public QObject
{
    Q_OBJECT

private slots:
    void decodesKnownPixels_data();
    void decodesKnownPixels();
    void readsDisplayControl();
    void unitWithoutStartShowsNothing();
    void colourChangeRegionsApply();
    void malformedUnitsAreRejected_data();
    void malformedUnitsAreRejected();
    void damagedPixelDataLeavesTransparentPixels();
    void unknownCommandEndsItsSequence();

    void convertsColourTableEntries();
    void rendersThroughTheColourTable();

    void assemblesUnitsFromPackets();
    void assemblerResynchronises();

    void decodesTheTestDiscSubtitles();
};

void TestSubpicture::decodesKnownPixels_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("fillToEnd");
    // kind 0: pattern of all four values; 1: long runs (12- and 16-bit
    // codes, runs split over 255); 2: one value everywhere.
    QTest::newRow("small pattern") << 7 << 5 << 0 << false;
    QTest::newRow("one pixel") << 1 << 1 << 0 << false;
    QTest::newRow("one line") << 40 << 1 << 0 << false;
    QTest::newRow("long runs") << 700 << 6 << 1 << false;
    QTest::newRow("long runs, rest-of-line code") << 700 << 6 << 1 << true;
    QTest::newRow("uniform, rest-of-line code") << 720 << 8 << 2 << true;
    QTest::newRow("pattern, rest-of-line code") << 33 << 9 << 0 << true;
}

void TestSubpicture::decodesKnownPixels()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, kind);
    QFETCH(bool, fillToEnd);

    UnitSpec spec;
    spec.x = 10;
    spec.y = 500;
    spec.fillToEnd = fillToEnd;
    if (kind == 0) {
        spec.bitmap = patternBitmap(width, height);
    } else if (kind == 1) {
        spec.bitmap = uniformBitmap(width, height, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                spec.bitmap[y][x] = static_cast<std::uint8_t>((x < 20 ? 1 : x < 90 ? 2 : x < 400 ? 3 : 0) ^ (y & 1));
    } else {
        spec.bitmap = uniformBitmap(width, height, 2);
    }
    if (spec.x + width > 720)
        spec.x = 0;

    SubpictureError error = SubpictureError::None;
    const auto sp = decode(buildUnit(spec), &error);
    QVERIFY2(sp, subpictureErrorText(error));
    QCOMPARE(sp->x, spec.x);
    QCOMPARE(sp->y, spec.y);
    QCOMPARE(sp->width, width);
    QCOMPARE(sp->height, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (sp->pixelAt(x, y) != spec.bitmap[y][x])
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 is %3, expected %4")
                                     .arg(x).arg(y).arg(sp->pixelAt(x, y)).arg(spec.bitmap[y][x])));
}

void TestSubpicture::readsDisplayControl()
{
    UnitSpec spec;
    spec.bitmap = patternBitmap(8, 4);
    spec.colourWord = 0xA5C3;   // e2=A e1=5 p=C b=3
    spec.contrastWord = 0xF80;  // e2=0 e1=F p=8 b=0
    spec.startDelay = 3;
    spec.stopDelay = 200;
    auto sp = decode(buildUnit(spec));
    QVERIFY(sp);
    QVERIFY(sp->displayed);
    QVERIFY(!sp->forced);
    QCOMPARE(sp->colour, (SubpictureNibbles{0x3, 0xC, 0x5, 0xA}));
    QCOMPARE(sp->contrast, (SubpictureNibbles{0x0, 0x8, 0xF, 0x0}));
    QCOMPARE(sp->startDelay, 3u * 1024u);
    QVERIFY(sp->stopDelay);
    QCOMPARE(*sp->stopDelay, 200u * 1024u); // 200 units = 2.276 s

    spec.forced = true;
    spec.stopDelay = -1;
    sp = decode(buildUnit(spec));
    QVERIFY(sp);
    QVERIFY(sp->forced);
    QVERIFY(!sp->stopDelay);
}

void TestSubpicture::unitWithoutStartShowsNothing()
{
    // Only a stop: the unit clears what was shown and has no picture.
    Bytes u = {0, 0, 0, 4, 0x00, 0x10, 0x00, 0x04, 0x02, 0xFF};
    setSize(u);
    const auto sp = decode(u);
    QVERIFY(sp);
    QVERIFY(!sp->displayed);
    QCOMPARE(sp->width, 0);
    QVERIFY(renderSubpicture(*sp, ColourTable{}).isNull());
}

void TestSubpicture::colourChangeRegionsApply()
{
    UnitSpec spec;
    spec.x = 100;
    spec.y = 400;
    spec.bitmap = uniformBitmap(40, 10, 1);
    spec.colourWord = 0x0010;   // pattern -> index 1
    spec.contrastWord = 0x00F0;
    // Lines 403..405: from column 120 pattern uses index 7, contrast 5.
    Bytes cmd = {0x07, 0, 0,
                 0x01, 0x93, 0x11, 0x95,             // lines 403..405, 1 point
                 0x00, 0x78, 0x00, 0x70, 0x00, 0x50, // column 120, colours, contrasts
                 0x0F, 0xFF, 0xFF, 0xFF};
    cmd[1] = 0;
    cmd[2] = static_cast<std::uint8_t>(cmd.size() - 1);
    spec.extraCommands = cmd;
    const auto sp = decode(buildUnit(spec));
    QVERIFY(sp);
    QCOMPARE(sp->colourChanges.size(), std::size_t(1));

    ColourTable table{};
    table[1] = 0x00EB8080; // white
    table[7] = 0x00108080; // black
    const QImage image = renderSubpicture(*sp, table);
    QCOMPARE(image.size(), QSize(40, 10));
    QCOMPARE(image.pixel(0, 0), qRgba(255, 255, 255, 255));
    QCOMPARE(image.pixel(19, 3), qRgba(255, 255, 255, 255));  // column 119
    QCOMPARE(image.pixel(20, 3), qRgba(0, 0, 0, 85));         // column 120, line 403
    QCOMPARE(image.pixel(39, 5), qRgba(0, 0, 0, 85));
    QCOMPARE(image.pixel(20, 6), qRgba(255, 255, 255, 255));  // line 406
}

void TestSubpicture::malformedUnitsAreRejected_data()
{
    QTest::addColumn<Bytes>("unit");
    QTest::addColumn<SubpictureError>("expected");

    UnitSpec spec;
    spec.bitmap = patternBitmap(16, 6);
    const Bytes good = buildUnit(spec);
    const unsigned seq1 = controlOffset(good);
    const unsigned seq2Next = unsigned(good.size()) - 4; // next field of sequence 2

    QTest::newRow("empty") << Bytes{} << SubpictureError::TooShort;
    QTest::newRow("three bytes") << Bytes{0, 3, 0} << SubpictureError::TooShort;
    {
        Bytes u(good.begin(), good.end() - 5);
        QTest::newRow("truncated") << u << SubpictureError::SizeMismatch;
    }
    {
        Bytes u = good;
        u.push_back(0);
        QTest::newRow("trailing byte") << u << SubpictureError::SizeMismatch;
    }
    {
        Bytes u = good;
        u[2] = 0xFF;
        u[3] = 0xF0;
        QTest::newRow("control offset past end") << u << SubpictureError::BadControlOffset;
    }
    {
        Bytes u = good;
        u[2] = 0;
        u[3] = 2;
        QTest::newRow("control offset inside header") << u << SubpictureError::BadControlOffset;
    }
    {
        Bytes u = good;
        u[seq2Next] = 0x7F;
        QTest::newRow("next offset past end") << u << SubpictureError::BadControlOffset;
    }
    {
        Bytes u = good;
        u[seq2Next] = static_cast<std::uint8_t>(seq1 >> 8);
        u[seq2Next + 1] = static_cast<std::uint8_t>(seq1);
        QTest::newRow("chain loops back") << u << SubpictureError::ControlLoop;
    }
    {
        // The stop sequence's CMD_END is missing: the command runs off the end.
        Bytes u(good.begin(), good.end() - 1);
        setSize(u);
        QTest::newRow("no CMD_END") << u << SubpictureError::TruncatedCommand;
    }
    {
        // SET_DAREA as the last byte of the unit.
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x01, 0x05, 0x00, 0x10};
        setSize(u);
        QTest::newRow("SET_DAREA cut off") << u << SubpictureError::TruncatedCommand;
    }
    {
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x07, 0x00, 0x40, 0xFF};
        setSize(u);
        QTest::newRow("CHG_COLCON size past end") << u << SubpictureError::TruncatedCommand;
    }
    {
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x06, 0, 4, 0, 4, 0x01, 0xFF};
        setSize(u);
        QTest::newRow("start without area") << u << SubpictureError::MissingDisplayArea;
    }
    {
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x05, 0x00, 0x10, 0x01, 0x00, 0x10, 0x01, 0x01, 0xFF};
        setSize(u);
        QTest::newRow("start without pixel offsets") << u << SubpictureError::MissingPixelData;
    }
    {
        // x from 0x100 to 0x010: ends before it starts.
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x05, 0x10, 0x00, 0x10, 0x00, 0x10, 0x01,
                   0x06, 0, 4, 0, 4, 0x01, 0xFF};
        setSize(u);
        QTest::newRow("area ends before start") << u << SubpictureError::BadDisplayArea;
    }
    {
        // 0..4095 square: far beyond any picture.
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x05, 0x00, 0x0F, 0xFF, 0x00, 0x0F, 0xFF,
                   0x06, 0, 4, 0, 4, 0x01, 0xFF};
        setSize(u);
        QTest::newRow("huge area") << u << SubpictureError::BadDisplayArea;
    }
    {
        Bytes u = {0, 0, 0, 4, 0, 0, 0, 4, 0x05, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10,
                   0x06, 0x40, 0x00, 0, 4, 0x01, 0xFF};
        setSize(u);
        QTest::newRow("field offset past end") << u << SubpictureError::BadPixelDataOffset;
    }
}

void TestSubpicture::malformedUnitsAreRejected()
{
    QFETCH(Bytes, unit);
    QFETCH(SubpictureError, expected);
    SubpictureError error = SubpictureError::None;
    const auto sp = decode(unit, &error);
    QVERIFY(!sp);
    QCOMPARE(int(error), int(expected));
}

void TestSubpicture::damagedPixelDataLeavesTransparentPixels()
{
    // 300 pixels of value 3 take 4 bytes a line (a 16-bit and a 12-bit code).
    UnitSpec spec;
    spec.bitmap = uniformBitmap(300, 4, 3);
    Bytes u = buildUnit(spec);
    const unsigned bottom = 4 + unsigned(encodeField(spec.bitmap, 0).size());
    QCOMPARE(bottom, 12u);

    // The top field zeroed: each zero code means "value 0 to the end of the
    // line", so the top-field lines decode as 0 and the bottom field is
    // untouched.
    std::fill(u.begin() + 4, u.begin() + bottom, 0);
    auto sp = decode(u);
    QVERIFY(sp);
    QCOMPARE(sp->pixelAt(5, 0), std::uint8_t(0));
    QCOMPARE(sp->pixelAt(299, 2), std::uint8_t(0));
    QCOMPARE(sp->pixelAt(5, 1), std::uint8_t(3));
    QCOMPARE(sp->pixelAt(299, 3), std::uint8_t(3));

    // The top field pointed at the last byte before the control sequences
    // (0x70: one pixel of 3, then a nibble that starts a code): the codes run
    // out after one pixel and the rest of the field stays 0.
    u = buildUnit(spec);
    const unsigned seq = controlOffset(u);
    const unsigned dspxa = seq + 4 + 3 + 3 + 7; // after SET_COLOR, SET_CONTR, SET_DAREA
    QCOMPARE(u[dspxa], std::uint8_t(0x06));
    u[dspxa + 1] = static_cast<std::uint8_t>((seq - 1) >> 8);
    u[dspxa + 2] = static_cast<std::uint8_t>(seq - 1);
    sp = decode(u);
    QVERIFY(sp);
    QCOMPARE(sp->pixelAt(0, 0), std::uint8_t(3));
    QCOMPARE(sp->pixelAt(1, 0), std::uint8_t(0));
    QCOMPARE(sp->pixelAt(5, 2), std::uint8_t(0));
    QCOMPARE(sp->pixelAt(5, 1), std::uint8_t(3));
}

void TestSubpicture::unknownCommandEndsItsSequence()
{
    // 0x08 is no command: the first sequence ends there, before its start
    // command; the chain still goes on to the next sequence.
    UnitSpec spec;
    spec.bitmap = patternBitmap(4, 2);
    spec.extraCommands = {0x08};
    const auto sp = decode(buildUnit(spec));
    QVERIFY(sp);
    QVERIFY(!sp->displayed);
}

void TestSubpicture::convertsColourTableEntries()
{
    QCOMPARE(rgbFromYCrCb(0x00108080), qRgb(0, 0, 0));
    QCOMPARE(rgbFromYCrCb(0x00EB8080), qRgb(255, 255, 255));
    // BT.601 red (R'G'B' 255,0,0) is Y 81, Cb 90, Cr 240.
    const QRgb red = rgbFromYCrCb((81u << 16) | (240u << 8) | 90u);
    QVERIFY(qRed(red) >= 253 && qGreen(red) <= 2 && qBlue(red) <= 2);
    // Out-of-range values clamp instead of wrapping.
    const QRgb extreme = rgbFromYCrCb(0x00FFFFFF);
    QCOMPARE(qRed(extreme), 255);
    QCOMPARE(qBlue(extreme), 255);
    QCOMPARE(alphaFromContrast(0), 0);
    QCOMPARE(alphaFromContrast(15), 255);
}

void TestSubpicture::rendersThroughTheColourTable()
{
    UnitSpec spec;
    spec.bitmap = {{0, 1, 2, 3}, {3, 2, 1, 0}};
    spec.colourWord = 0x9876;
    spec.contrastWord = 0xF840;
    const auto sp = decode(buildUnit(spec));
    QVERIFY(sp);
    ColourTable table{};
    table[6] = 0x00108080;
    table[7] = 0x00EB8080;
    table[8] = (81u << 16) | (240u << 8) | 90u;
    table[9] = 0x007E8080;
    const QImage image = renderSubpicture(*sp, table);
    QCOMPARE(image.format(), QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(4, 2));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(image.pixel(1, 0), qRgba(255, 255, 255, 4 * 17));
    QCOMPARE(qAlpha(image.pixel(2, 0)), 8 * 17);
    QVERIFY(qRed(image.pixel(2, 0)) > 250);
    QCOMPARE(image.pixel(0, 1), qRgba(qRed(rgbFromYCrCb(0x7E8080)), qGreen(rgbFromYCrCb(0x7E8080)),
                                      qBlue(rgbFromYCrCb(0x7E8080)), 255));
}

void TestSubpicture::assemblesUnitsFromPackets()
{
    UnitSpec spec;
    spec.bitmap = patternBitmap(300, 40);
    const Bytes unit = buildUnit(spec);
    QVERIFY(unit.size() > 2000);

    SubpictureAssembler assembler;
    const std::size_t cut1 = 1; // even the size field may be split
    const std::size_t cut2 = 1500;
    QVERIFY(!assembler.push(std::span(unit.data(), cut1), 90000));
    QVERIFY(assembler.inProgress());
    QVERIFY(!assembler.push(std::span(unit.data() + cut1, cut2 - cut1), std::nullopt));
    Bytes last(unit.begin() + cut2, unit.end());
    last.insert(last.end(), {0xFF, 0xFF, 0xFF}); // padding after the unit
    const auto done = assembler.push(last, std::nullopt);
    QVERIFY(done);
    QCOMPARE(done->bytes, unit);
    QCOMPARE(done->pts, std::optional<std::int64_t>(90000));
    QVERIFY(!assembler.inProgress());
    QVERIFY(decode(done->bytes));

    // A unit in a single packet.
    const auto single = assembler.push(unit, 180000);
    QVERIFY(single);
    QCOMPARE(single->bytes.size(), unit.size());
}

void TestSubpicture::assemblerResynchronises()
{
    UnitSpec spec;
    spec.bitmap = patternBitmap(200, 30);
    const Bytes unit = buildUnit(spec);
    const std::span<const std::uint8_t> all(unit.data(), unit.size());

    SubpictureAssembler assembler;
    // Joined mid-unit (no PTS): dropped until a unit begins.
    QVERIFY(!assembler.push(all.subspan(100, 200), std::nullopt));
    QVERIFY(!assembler.inProgress());

    // A unit that loses its tail is replaced by the next one with a PTS.
    QVERIFY(!assembler.push(all.first(300), 1000));
    auto done = assembler.push(all, 2000);
    QVERIFY(done);
    QCOMPARE(done->pts, std::optional<std::int64_t>(2000));
    QCOMPARE(done->bytes, unit);

    // Declared sizes below the header are dropped at once.
    const Bytes tiny = {0, 3, 0, 0};
    QVERIFY(!assembler.push(tiny, 3000));
    QVERIFY(!assembler.inProgress());

    // reset() forgets a unit in progress.
    QVERIFY(!assembler.push(all.first(300), 4000));
    assembler.reset();
    QVERIFY(!assembler.push(all.subspan(300), std::nullopt));
}

void TestSubpicture::decodesTheTestDiscSubtitles()
{
    const QString vob = QStringLiteral(VELMORA_DISC_DIR "/A/VIDEO_TS/VTS_01_1.VOB");
    if (!QFileInfo::exists(vob))
        QSKIP("test discs not authored (tests/discs/author.sh)");

    const std::vector<SubpicturePacket> packets = readSubpicturePackets(vob);
    SubpictureAssembler english;
    SubpictureAssembler german;
    int englishUnits = 0;
    int englishShownLow = 0;
    int germanUnits = 0;
    ColourTable grey{};
    for (int i = 0; i < 16; ++i)
        grey[i] = 0x00EB8080;
    const QString dumpDir = qEnvironmentVariable("VELMORA_SPU_DUMP");
    for (const SubpicturePacket &p : packets) {
        SubpictureAssembler &assembler = p.substream == 0x20 ? english : german;
        if (p.substream != 0x20 && p.substream != 0x21)
            continue;
        const auto unit = assembler.push(p.payload, p.pts);
        if (!unit)
            continue;
        if (!dumpDir.isEmpty()) {
            QFile out(QDir(dumpDir).filePath(QStringLiteral("disc-a-%1-%2.spu").arg(p.substream, 0, 16).arg(*unit->pts)));
            if (out.open(QIODevice::WriteOnly))
                out.write(reinterpret_cast<const char *>(unit->bytes.data()), qint64(unit->bytes.size()));
        }
        SubpictureError error = SubpictureError::None;
        const auto sp = decode(unit->bytes, &error);
        QVERIFY2(sp, subpictureErrorText(error));
        QVERIFY(unit->pts);
        if (p.substream == 0x21) {
            ++germanUnits;
            continue;
        }
        ++englishUnits;
        if (!sp->displayed)
            continue;
        // The subtitle's visible pixels lie in the lower part of the picture.
        const QImage image = renderSubpicture(*sp, grey);
        int visibleTop = -1;
        for (int y = 0; y < image.height() && visibleTop < 0; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 0) {
                    visibleTop = sp->y + y;
                    break;
                }
        if (visibleTop >= 576 / 2)
            ++englishShownLow;
    }
    QVERIFY2(englishUnits >= 4, qPrintable(QString::number(englishUnits)));
    QVERIFY(englishShownLow >= 4);
    QVERIFY(germanUnits >= 4);
}

QTEST_GUILESS_MAIN(TestSubpicture)
#include "test_subpicture.moc"
