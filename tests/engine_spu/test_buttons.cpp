// Menu buttons of hand-made NAV packets (areas, colours, hit testing, repair,
// the highlighted overlay) and the surface-to-picture mapping. Working the
// buttons on a disc is tested with the engine (tests/engine).

#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SubpictureOverlay.h"
#include "engine/video/SurfaceMapping.h"
#include "tests/engine_spu/SpuTestUnits.h"

#include <QtTest>
#include <cstring>

using namespace velmora;

namespace {

struct ButtonBox
{
    unsigned x0, y0, x1, y1, colourSet;
};

// Buttons 4 and 5 overlap between x 150 and 200.
pci_t makePci(std::initializer_list<ButtonBox> buttons = {{200, 180, 519, 239, 1}, {200, 270, 519, 329, 1},
                                                            {200, 360, 519, 419, 0}, {50, 50, 200, 150, 1},
                                                            {150, 50, 250, 150, 1}})
{
    pci_t pci;
    std::memset(&pci, 0, sizeof pci);
    pci.hli.hl_gi.hli_ss = 1;
    pci.hli.hl_gi.btn_ns = std::uint8_t(buttons.size());
    int i = 0;
    for (const ButtonBox &b : buttons) {
        btni_t &slot = pci.hli.btnit[i++];
        slot.x_start = b.x0;
        slot.y_start = b.y0;
        slot.x_end = b.x1;
        slot.y_end = b.y1;
        slot.btn_coln = b.colourSet;
    }
    pci.hli.btn_colit.btn_coli[0][0] = 0x98760F84; // select
    pci.hli.btn_colit.btn_coli[0][1] = 0x5432FFF0; // activate
    return pci;
}

} // namespace

class TestButtons : public QObject
{
    Q_OBJECT

private slots:
    void readsButtonAreas();
    void findsTheButtonUnderAPoint_data();
    void findsTheButtonUnderAPoint();
    void highlightsPixelsInsideTheButton();
    void placesThePicture_data();
    void placesThePicture();
    void mapsPointsAndRectangles();
    void paintsTheOverlayScaled();
};

void TestButtons::readsButtonAreas()
{
    pci_t pci = makePci();
    QCOMPARE(buttonCount(pci), 5);
    QCOMPARE(repairButton(pci, 2), 2);
    QCOMPARE(repairButton(pci, 9), 1);
    auto area = buttonArea(pci, 1, ButtonMode::Select);
    QVERIFY(area && area->hasColours);
    QCOMPARE(area->rect, QRect(QPoint(200, 180), QPoint(519, 239)));
    QCOMPARE(area->colour, (SubpictureNibbles{6, 7, 8, 9}));
    QCOMPARE(area->contrast, (SubpictureNibbles{4, 8, 0xF, 0}));
    area = buttonArea(pci, 1, ButtonMode::Activate);
    QCOMPARE(area->colour, (SubpictureNibbles{2, 3, 4, 5}));
    QCOMPARE(area->contrast, (SubpictureNibbles{0, 0xF, 0xF, 0xF}));
    // No colour set: the library reads palette 0; we keep the own colours.
    QVERIFY(!buttonArea(pci, 3, ButtonMode::Select)->hasColours);

    for (int missing : {0, 6, -1})
        QVERIFY(!buttonArea(pci, missing, ButtonMode::Select));
    // A count beyond the 36-entry table is clamped, never trusted.
    pci.hli.hl_gi.btn_ns = 200;
    QCOMPARE(buttonCount(pci), 36);
    QVERIFY(!buttonArea(pci, 37, ButtonMode::Select));
    pci.hli.btnit[0].x_end = 100; // button 1 ends before it starts
    QCOMPARE(repairButton(pci, 1), 2);
    // No highlight information at all.
    pci.hli.hl_gi.hli_ss = 0;
    QCOMPARE(buttonCount(pci), 0);
    QCOMPARE(buttonAt(pci, 300, 200), 0);
    QCOMPARE(repairButton(pci, 1), 0);
}

void TestButtons::findsTheButtonUnderAPoint_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("button");
    QTest::newRow("corners are inside") << QPoint(519, 239) << 1;
    QTest::newRow("just outside") << QPoint(520, 200) << 0;
    QTest::newRow("between buttons") << QPoint(300, 250) << 0;
    QTest::newRow("overlap, nearer 5's centre") << QPoint(180, 100) << 5;
    QTest::newRow("overlap, nearer 4's centre") << QPoint(155, 100) << 4;
}

void TestButtons::findsTheButtonUnderAPoint()
{
    QFETCH(QPoint, point);
    QFETCH(int, button);
    QCOMPARE(buttonAt(makePci(), point.x(), point.y()), button);
}

void TestButtons::highlightsPixelsInsideTheButton()
{
    // A 40x20 menu subpicture at (100, 50), transparent in its own colours as
    // menus draw them: value 0 on the first row, then 1 left and 2 right.
    spu_test::UnitLayout layout;
    layout.x = 100;
    layout.y = 50;
    layout.bitmap.assign(20, std::vector<std::uint8_t>(40, 0));
    for (int y = 1; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            layout.bitmap[y][x] = x < 20 ? 1 : 2;
    layout.colour = 0;
    layout.contrast = 0;
    const auto menu = decodeSubpicture(spu_test::buildUnit(layout));
    QVERIFY(menu);
    ColourTable table{};
    table[1] = 0x00108080; // black
    table[2] = 0x00EB8080; // white
    ButtonArea button{1, QRect(QPoint(90, 40), QPoint(129, 59)), true, {0, 1, 2, 0}, {0, 15, 8, 0}};

    const QImage plain = renderSubpicture(*menu, table);
    const QImage lit = renderHighlighted(*menu, table, button);
    QCOMPARE(lit.size(), plain.size());
    QCOMPARE(lit.pixel(5, 5), qRgba(0, 0, 0, 255));        // value 1 inside (clipped at the left)
    QCOMPARE(lit.pixel(29, 9), qRgba(255, 255, 255, 136)); // value 2, last pixel inside (inclusive)
    QCOMPARE(qAlpha(lit.pixel(5, 0)), 0);                  // value 0 inside
    QCOMPARE(qAlpha(lit.pixel(30, 5)), 0);                 // right of the button
    QCOMPARE(qAlpha(lit.pixel(5, 10)), 0);                 // below it

    button.hasColours = false;
    QCOMPARE(renderHighlighted(*menu, table, button), plain);
    button.hasColours = true;
    button.rect = QRect(600, 400, 50, 50);
    QCOMPARE(renderHighlighted(*menu, table, button), plain);
}

void TestButtons::placesThePicture_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<bool>("wide");
    QTest::addColumn<QSize>("surface");
    QTest::addColumn<QRect>("display");
    QTest::newRow("4:3 pillarboxed") << QSize(720, 576) << false << QSize(1000, 600) << QRect(100, 0, 800, 600);
    QTest::newRow("16:9 letterboxed") << QSize(720, 576) << true << QSize(800, 600) << QRect(0, 75, 800, 450);
    QTest::newRow("NTSC 16:9 exact") << QSize(720, 480) << true << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
    QTest::newRow("odd surface") << QSize(720, 480) << false << QSize(611, 412) << QRect(31, 0, 549, 412);
    QTest::newRow("empty surface") << QSize(720, 576) << false << QSize(0, 0) << QRect();
}

void TestButtons::placesThePicture()
{
    QFETCH(QSize, picture);
    QFETCH(bool, wide);
    QFETCH(QSize, surface);
    QFETCH(QRect, display);
    const auto aspect = wide ? DisplayAspect::Wide16x9 : DisplayAspect::Standard4x3;
    QCOMPARE(SurfaceMapping(picture, aspect, surface).displayRect(), display);
}

void TestButtons::mapsPointsAndRectangles()
{
    // PAL 16:9 in 800x600: bars of 75 pixels above and below.
    const SurfaceMapping mapping(QSize(720, 576), DisplayAspect::Wide16x9, QSize(800, 600));
    QCOMPARE(mapping.toPicture(QPoint(0, 75)), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(mapping.toPicture(QPoint(799, 524)), std::optional<QPoint>(QPoint(719, 575)));
    QCOMPARE(mapping.toPicture(QPoint(400, 300)), std::optional<QPoint>(QPoint(360, 288)));
    for (const QPoint outside : {QPoint(400, 74), QPoint(400, 525), QPoint(-1, 300), QPoint(800, 300)})
        QVERIFY(!mapping.toPicture(outside));
    QCOMPARE(mapping.toSurface(QPointF(720, 576)), std::optional<QPointF>(QPointF(800, 525)));
    QVERIFY(!mapping.toSurface(QPointF(10, 577)));
    QVERIFY(!SurfaceMapping().toPicture(QPoint(0, 0)));

    // A button's rectangle (inclusive pixels) as the surface area showing it,
    // clipped to the picture.
    QCOMPARE(mapping.toSurface(QRect(QPoint(180, 144), QPoint(539, 431))), QRectF(200, 187.5, 400, 225));
    QCOMPARE(mapping.toSurface(QRect(700, 560, 100, 100)).bottomRight(), QPointF(800, 525));
    QVERIFY(mapping.toSurface(QRect(800, 10, 5, 5)).isEmpty());
}

void TestButtons::paintsTheOverlayScaled()
{
    // A 72x58 block of value 1 (opaque white) at the picture's centre.
    spu_test::UnitLayout layout;
    layout.x = 324;
    layout.y = 259;
    layout.bitmap.assign(58, std::vector<std::uint8_t>(72, 1));
    const auto sp = decodeSubpicture(spu_test::buildUnit(layout));
    QVERIFY(sp);
    ColourTable table{};
    table[1] = 0x00EB8080;

    SubpictureOverlay overlay;
    QVERIFY(overlay.set(&*sp, std::nullopt, table));
    QVERIFY(!overlay.set(&*sp, std::nullopt, table)); // nothing changed: no render
    QImage surface(800, 600, QImage::Format_ARGB32);
    surface.fill(Qt::black);
    {
        QPainter painter(&surface);
        overlay.paint(painter, SurfaceMapping(QSize(720, 576), DisplayAspect::Wide16x9, QSize(800, 600)));
    }
    // 16:9 letterbox: the block covers surface x 360..440, y 277..322.
    QCOMPARE(surface.pixel(400, 300), qRgb(255, 255, 255));
    QCOMPARE(surface.pixel(356, 300), qRgb(0, 0, 0));
    QCOMPARE(surface.pixel(400, 272), qRgb(0, 0, 0));

    const ButtonArea button{1, QRect(324, 259, 10, 10), true, {0, 0, 0, 0}, {0, 0, 0, 0}};
    QVERIFY(overlay.set(&*sp, button, table));
    QCOMPARE(qAlpha(overlay.image().pixel(0, 0)), 0);
    QVERIFY(overlay.set(nullptr, std::nullopt, table));
    QVERIFY(!overlay.set(nullptr, std::nullopt, table) && overlay.isEmpty());
}

QTEST_GUILESS_MAIN(TestButtons)
#include "test_buttons.moc"
