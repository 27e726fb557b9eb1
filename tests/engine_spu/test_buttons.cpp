// Menu buttons from hand-made NAV packets: areas and colours, hit testing,
// repair of the current button, the highlighted overlay; and the mapping of
// surface pixels to picture coordinates.

#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SurfaceMapping.h"
#include "tests/engine_spu/SpuTestUnits.h"

#include <QtTest>
#include <cstring>

using namespace velmora;

namespace {

struct ButtonSpec
{
    int x0, y0, x1, y1;
    int colourSet; // btn_coln: 0 none, 1..3
};

pci_t makePci(std::initializer_list<ButtonSpec> buttons)
{
    pci_t pci;
    std::memset(&pci, 0, sizeof pci);
    pci.hli.hl_gi.hli_ss = 1;
    pci.hli.hl_gi.btn_ns = static_cast<std::uint8_t>(buttons.size());
    int i = 0;
    for (const ButtonSpec &b : buttons) {
        btni_t &slot = pci.hli.btnit[i++];
        slot.x_start = unsigned(b.x0);
        slot.y_start = unsigned(b.y0);
        slot.x_end = unsigned(b.x1);
        slot.y_end = unsigned(b.y1);
        slot.btn_coln = unsigned(b.colourSet);
    }
    // Colour set 1: select and activate; set 2 differs in every nibble.
    pci.hli.btn_colit.btn_coli[0][0] = 0x98760F84;
    pci.hli.btn_colit.btn_coli[0][1] = 0x5432FFF0;
    pci.hli.btn_colit.btn_coli[1][0] = 0x11112222;
    return pci;
}

pci_t threeButtons()
{
    return makePci({{200, 180, 519, 239, 1}, {200, 270, 519, 329, 1}, {200, 360, 519, 419, 2}});
}

} // namespace

class TestButtons : public QObject
{
    Q_OBJECT

private slots:
    void splitsPaletteWords();
    void readsButtonAreas();
    void refusesButtonsThePacketLacks();
    void findsTheButtonUnderAPoint_data();
    void findsTheButtonUnderAPoint();
    void repairsTheCurrentButton_data();
    void repairsTheCurrentButton();
    void highlightsPixelsInsideTheButton();

    void placesThePicture_data();
    void placesThePicture();
    void mapsPointsBothWays();
    void mapsRectanglesForOverlays();
};

void TestButtons::splitsPaletteWords()
{
    SubpictureNibbles colour;
    SubpictureNibbles contrast;
    splitButtonPalette(0xFEDC4321, colour, contrast);
    QCOMPARE(colour, (SubpictureNibbles{0xC, 0xD, 0xE, 0xF}));
    QCOMPARE(contrast, (SubpictureNibbles{1, 2, 3, 4}));
}

void TestButtons::readsButtonAreas()
{
    const pci_t pci = threeButtons();
    QCOMPARE(buttonCount(pci), 3);

    auto area = buttonArea(pci, 1, ButtonMode::Select);
    QVERIFY(area);
    QCOMPARE(area->button, 1);
    QCOMPARE(area->rect, QRect(QPoint(200, 180), QPoint(519, 239)));
    QVERIFY(area->hasColours);
    QCOMPARE(area->colour, (SubpictureNibbles{6, 7, 8, 9}));
    QCOMPARE(area->contrast, (SubpictureNibbles{4, 8, 0xF, 0}));

    area = buttonArea(pci, 1, ButtonMode::Activate);
    QVERIFY(area);
    QCOMPARE(area->colour, (SubpictureNibbles{2, 3, 4, 5}));
    QCOMPARE(area->contrast, (SubpictureNibbles{0, 0xF, 0xF, 0xF}));

    area = buttonArea(pci, 3, ButtonMode::Select);
    QVERIFY(area);
    QCOMPARE(area->colour, (SubpictureNibbles{1, 1, 1, 1}));
    QCOMPARE(area->contrast, (SubpictureNibbles{2, 2, 2, 2}));

    // No colour set: the button keeps the subpicture's own colours.
    const pci_t plain = makePci({{10, 10, 20, 20, 0}});
    area = buttonArea(plain, 1, ButtonMode::Select);
    QVERIFY(area);
    QVERIFY(!area->hasColours);
}

void TestButtons::refusesButtonsThePacketLacks()
{
    pci_t pci = threeButtons();
    QVERIFY(!buttonArea(pci, 0, ButtonMode::Select));
    QVERIFY(!buttonArea(pci, 4, ButtonMode::Select));
    QVERIFY(!buttonArea(pci, -1, ButtonMode::Select));

    // A count beyond the 36-entry table is clamped, never trusted.
    pci.hli.hl_gi.btn_ns = 200;
    QCOMPARE(buttonCount(pci), 36);
    QVERIFY(!buttonArea(pci, 37, ButtonMode::Select));
    QVERIFY(!buttonArea(pci, 200, ButtonMode::Select));

    // No highlight information at all.
    pci.hli.hl_gi.hli_ss = 0;
    QCOMPARE(buttonCount(pci), 0);
    QVERIFY(!buttonArea(pci, 1, ButtonMode::Select));
    QCOMPARE(buttonAt(pci, 300, 200), 0);
    QCOMPARE(repairButton(pci, 1), 0);
}

void TestButtons::findsTheButtonUnderAPoint_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("button");
    QTest::newRow("inside 1") << 300 << 200 << 1;
    QTest::newRow("top-left corner of 1") << 200 << 180 << 1;
    QTest::newRow("bottom-right corner of 1 (inclusive)") << 519 << 239 << 1;
    QTest::newRow("just right of 1") << 520 << 200 << 0;
    QTest::newRow("between 1 and 2") << 300 << 250 << 0;
    QTest::newRow("inside 3") << 210 << 400 << 3;
    QTest::newRow("nowhere") << 10 << 10 << 0;
    QTest::newRow("only in 4") << 102 << 100 << 4;
    QTest::newRow("overlap, nearer the centre of 5") << 180 << 100 << 5;
    QTest::newRow("overlap, nearer the centre of 4") << 155 << 100 << 4;
}

void TestButtons::findsTheButtonUnderAPoint()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, button);
    // Buttons 4 and 5 overlap between x 150 and 200.
    const pci_t pci = makePci({{200, 180, 519, 239, 1}, {200, 270, 519, 329, 1}, {200, 360, 519, 419, 2},
                               {50, 50, 200, 150, 1}, {150, 50, 250, 150, 1}});
    QCOMPARE(buttonAt(pci, x, y), button);
}

void TestButtons::repairsTheCurrentButton_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("firstIsBroken");
    QTest::addColumn<int>("expected");
    QTest::newRow("valid stays") << 2 << false << 2;
    QTest::newRow("none selected") << 0 << false << 1;
    QTest::newRow("beyond the count") << 7 << false << 1;
    QTest::newRow("negative") << -3 << false << 1;
    QTest::newRow("first has an empty rectangle") << 0 << true << 2;
    QTest::newRow("current has an empty rectangle") << 1 << true << 2;
}

void TestButtons::repairsTheCurrentButton()
{
    QFETCH(int, current);
    QFETCH(bool, firstIsBroken);
    QFETCH(int, expected);
    pci_t pci = threeButtons();
    if (firstIsBroken) {
        pci.hli.btnit[0].x_start = 500;
        pci.hli.btnit[0].x_end = 100;
    }
    QCOMPARE(repairButton(pci, current), expected);
}

void TestButtons::highlightsPixelsInsideTheButton()
{
    // A menu subpicture 40x20 at (100, 50); value 1 on the left half, 2 on
    // the right, 0 on the first line. Its own colours are all transparent,
    // as menus usually draw them.
    spu_test::UnitSpec spec;
    spec.x = 100;
    spec.y = 50;
    spec.bitmap.assign(20, std::vector<std::uint8_t>(40, 0));
    for (int y = 1; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            spec.bitmap[y][x] = x < 20 ? 1 : 2;
    spec.colourWord = 0;
    spec.contrastWord = 0;
    spec.forced = true;
    const spu_test::Bytes unit = spu_test::buildUnit(spec);
    const auto menu = decodeSubpicture(unit);
    QVERIFY(menu);

    ColourTable table{};
    table[1] = 0x00108080; // black
    table[2] = 0x00EB8080; // white
    ButtonArea button;
    button.button = 1;
    button.hasColours = true;
    // Reaches beyond the subpicture on the left and top: clipped.
    button.rect = QRect(QPoint(90, 40), QPoint(129, 59));
    button.colour = {0, 1, 2, 0};
    button.contrast = {0, 15, 8, 0};

    const QImage plain = renderSubpicture(*menu, table);
    const QImage lit = renderHighlighted(*menu, table, button);
    QCOMPARE(lit.size(), plain.size());
    QCOMPARE(qAlpha(plain.pixel(5, 5)), 0);
    QCOMPARE(lit.pixel(5, 5), qRgba(0, 0, 0, 255));          // value 1 inside
    QCOMPARE(lit.pixel(25, 5), qRgba(255, 255, 255, 136));   // value 2 inside
    QCOMPARE(qAlpha(lit.pixel(5, 0)), 0);                    // value 0 inside
    QCOMPARE(qAlpha(lit.pixel(30, 5)), 0);                   // right of the button
    QCOMPARE(qAlpha(lit.pixel(5, 10)), 0);                   // below the button
    QCOMPARE(qAlpha(lit.pixel(29, 9)), 136);                 // its last pixel (inclusive)

    // Without a colour set, or outside the subpicture, nothing changes.
    button.hasColours = false;
    QCOMPARE(renderHighlighted(*menu, table, button), plain);
    button.hasColours = true;
    button.rect = QRect(QPoint(600, 400), QPoint(700, 450));
    QCOMPARE(renderHighlighted(*menu, table, button), plain);
}

void TestButtons::placesThePicture_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("aspect");
    QTest::addColumn<QSize>("surface");
    QTest::addColumn<QRect>("display");
    const int standard = int(DisplayAspect::Standard4x3);
    const int wide = int(DisplayAspect::Wide16x9);
    QTest::newRow("PAL 4:3 fills 4:3") << QSize(720, 576) << standard << QSize(800, 600) << QRect(0, 0, 800, 600);
    QTest::newRow("PAL 4:3 pillarboxed") << QSize(720, 576) << standard << QSize(1000, 600) << QRect(100, 0, 800, 600);
    QTest::newRow("PAL 16:9 letterboxed") << QSize(720, 576) << wide << QSize(800, 600) << QRect(0, 75, 800, 450);
    QTest::newRow("NTSC 16:9 fills 16:9") << QSize(720, 480) << wide << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
    QTest::newRow("NTSC 4:3 odd surface") << QSize(720, 480) << standard << QSize(611, 412) << QRect(31, 0, 549, 412);
    QTest::newRow("empty surface") << QSize(720, 576) << standard << QSize(0, 0) << QRect();
}

void TestButtons::placesThePicture()
{
    QFETCH(QSize, picture);
    QFETCH(int, aspect);
    QFETCH(QSize, surface);
    QFETCH(QRect, display);
    const SurfaceMapping mapping(picture, DisplayAspect(aspect), surface);
    QCOMPARE(mapping.displayRect(), display);
}

void TestButtons::mapsPointsBothWays()
{
    // PAL 16:9 in 800x600: bars of 75 pixels above and below.
    const SurfaceMapping mapping(QSize(720, 576), DisplayAspect::Wide16x9, QSize(800, 600));
    QCOMPARE(mapping.toPicture(QPoint(0, 75)), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(mapping.toPicture(QPoint(799, 524)), std::optional<QPoint>(QPoint(719, 575)));
    QCOMPARE(mapping.toPicture(QPoint(400, 300)), std::optional<QPoint>(QPoint(360, 288)));
    QVERIFY(!mapping.toPicture(QPoint(400, 74)));   // top bar
    QVERIFY(!mapping.toPicture(QPoint(400, 525)));  // bottom bar
    QVERIFY(!mapping.toPicture(QPoint(-1, 300)));
    QVERIFY(!mapping.toPicture(QPoint(800, 300)));

    QCOMPARE(mapping.toSurface(QPointF(0, 0)), std::optional<QPointF>(QPointF(0, 75)));
    QCOMPARE(mapping.toSurface(QPointF(720, 576)), std::optional<QPointF>(QPointF(800, 525)));
    QVERIFY(!mapping.toSurface(QPointF(-0.5, 10)));
    QVERIFY(!mapping.toSurface(QPointF(10, 577)));

    // Every surface pixel of the picture maps to a picture pixel whose
    // centre maps back within one picture pixel's extent on the surface.
    const QRect display = mapping.displayRect();
    const double sx = double(display.width()) / 720;
    const double sy = double(display.height()) / 576;
    for (int y = display.top(); y <= display.bottom(); y += 7)
        for (int x = display.left(); x <= display.right(); x += 5) {
            const auto p = mapping.toPicture(QPoint(x, y));
            QVERIFY(p);
            const auto back = mapping.toSurface(QPointF(p->x() + 0.5, p->y() + 0.5));
            QVERIFY(back);
            QVERIFY(std::abs(back->x() - (x + 0.5)) <= sx / 2 + 1e-9);
            QVERIFY(std::abs(back->y() - (y + 0.5)) <= sy / 2 + 1e-9);
        }

    QVERIFY(!SurfaceMapping().toPicture(QPoint(0, 0)));
}

void TestButtons::mapsRectanglesForOverlays()
{
    const SurfaceMapping mapping(QSize(720, 576), DisplayAspect::Standard4x3, QSize(1000, 600));
    // Button 1 of disc A's main menu: picture pixels 200..519 x 180..239.
    const QRectF r = mapping.toSurface(QRect(QPoint(200, 180), QPoint(519, 239)));
    QCOMPARE(r.left(), 100 + 200 * 800.0 / 720);
    QCOMPARE(r.width(), 320 * 800.0 / 720);
    QCOMPARE(r.top(), 180 * 600.0 / 576);
    QCOMPARE(r.height(), 60 * 600.0 / 576);
    // Clipped to the picture; nothing for rectangles off it.
    QCOMPARE(mapping.toSurface(QRect(700, 560, 100, 100)).bottomRight(), QPointF(900, 600));
    QVERIFY(mapping.toSurface(QRect(800, 10, 5, 5)).isEmpty());
}

QTEST_GUILESS_MAIN(TestButtons)
#include "test_buttons.moc"
