// On the authored disc A: its subtitle units decoded; through libdvdnav, the
// streams of title 1 and of the main menu, and the main menu's buttons with
// the highlight drawn over the menu's subpicture. Working the menus is tested
// with the engine (tests/engine).
// Skipped without the discs.

#include "engine/EngineError.h"
#include "engine/spu/ButtonHighlight.h"
#include "engine/nav/StreamSummary.h"
#include "engine/spu/SubpictureAssembler.h"
#include "tests/engine_spu/VobReader.h"

#include <QFileInfo>
#include <QtTest>
#include <cstring>
#include <memory>

using namespace velmora;

namespace {

const QString kDiscA = QStringLiteral(VELMORA_DISC_DIR "/A");

struct NavigatorCloser
{
    void operator()(dvdnav_t *nav) const { dvdnav_close(nav); }
};
using Navigator = std::unique_ptr<dvdnav_t, NavigatorCloser>;

Navigator openDisc()
{
    // Quiet: libdvdnav logs to stdout otherwise.
    static dvdnav_logger_cb logger{[](void *, dvdnav_logger_level_t, const char *, va_list) {}};
    dvdnav_t *nav = nullptr;
    if (dvdnav_open2(&nav, nullptr, &logger, QFile::encodeName(kDiscA).constData()) != DVDNAV_STATUS_OK)
        return nullptr;
    dvdnav_set_PGC_positioning_flag(nav, 1);
    return Navigator(nav);
}

// Steps to the next NAV packet, keeping its PCI and the colour table handed
// out on the way.
bool stepToNavPacket(dvdnav_t *nav, pci_t *pci = nullptr, ColourTable *clut = nullptr)
{
    std::uint8_t block[DVD_VIDEO_LB_LEN];
    for (int i = 0; i < 2000; ++i) {
        int32_t event = 0;
        int32_t length = 0;
        if (dvdnav_get_next_block(nav, block, &event, &length) != DVDNAV_STATUS_OK || event == DVDNAV_STOP)
            return false;
        if (event == DVDNAV_SPU_CLUT_CHANGE && clut)
            std::memcpy(clut->data(), block, sizeof(*clut));
        if (event == DVDNAV_NAV_PACKET) {
            if (pci)
                std::memcpy(pci, dvdnav_get_current_nav_pci(nav), sizeof(pci_t));
            return true;
        }
    }
    return false;
}

std::vector<Subpicture> decodeStream(const QString &vob, int substream)
{
    std::vector<Subpicture> units;
    SubpictureAssembler assembler;
    for (const auto &p : spu_test::readSubpicturePackets(vob))
        if (p.substream == substream)
            if (auto unit = assembler.push(p.payload, p.pts))
                if (auto sp = decodeSubpicture(unit->bytes))
                    units.push_back(std::move(*sp));
    return units;
}

} // namespace

class TestDisc : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void decodesTheSubtitles();
    void readsTheStreams();
    void drawsTheMenuHighlight();
};

void TestDisc::init()
{
    if (!QFileInfo::exists(kDiscA + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO")))
        QSKIP("test discs not authored (tests/discs/author.sh)");
}

void TestDisc::decodesTheSubtitles()
{
    // One unit per chapter in each stream, shown 8 s; English sits in the
    // lower part of the picture.
    const QString vob = kDiscA + QStringLiteral("/VIDEO_TS/VTS_01_1.VOB");
    const std::vector<Subpicture> english = decodeStream(vob, 0x20);
    QCOMPARE(english.size(), std::size_t(4));
    QCOMPARE(decodeStream(vob, 0x21).size(), std::size_t(4));
    for (const Subpicture &sp : english) {
        QVERIFY(sp.displayed && !sp.forced && sp.stopDelay);
        QVERIFY(std::abs(int(*sp.stopDelay) - 8 * 90000) < 1024);
        int top = -1;
        for (int y = 0; y < sp.height && top < 0; ++y)
            for (int x = 0; x < sp.width && top < 0; ++x)
                if (sp.pixelAt(x, y) != 0 && sp.contrast[sp.pixelAt(x, y)] > 0)
                    top = sp.y + y;
        QVERIFY2(top >= 576 * 3 / 4, qPrintable(QString::number(top)));
    }
}

void TestDisc::readsTheStreams()
{
    Navigator nav = openDisc();
    QVERIFY(nav);
    QCOMPARE(StreamSummary::read(nav.get()).audioStreamCount(), 0); // not started

    QVERIFY(stepToNavPacket(nav.get())); // first play leads to the main menu
    StreamSummary streams = StreamSummary::read(nav.get());
    QCOMPARE(streams.domain(), StreamSummary::Domain::VideoManagerMenu);
    QCOMPARE(streams.audioStreamCount(), 1);
    QCOMPARE(streams.audioLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.subpictureStreamCount(), 1);

    QCOMPARE(dvdnav_title_play(nav.get(), 1), DVDNAV_STATUS_OK);
    QVERIFY(stepToNavPacket(nav.get()));
    streams = StreamSummary::read(nav.get());
    QCOMPARE(streams.domain(), StreamSummary::Domain::Title);
    QCOMPARE(streams.audioStreamCount(), 2);
    QVERIFY(streams.audioStreamEnabled(0) && streams.audioStreamEnabled(1));
    QCOMPARE(streams.audioLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.audioLanguage(1), QStringLiteral("French"));
    QCOMPARE(streams.subpictureStreamCount(), 2);
    QVERIFY(streams.subpictureStreamEnabled(0) && streams.subpictureStreamEnabled(1));
    QCOMPARE(streams.subpictureLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.subpictureLanguage(1), QStringLiteral("German"));
    QCOMPARE(streams.subpicture(1).physical, 1);
    QCOMPARE(streams, StreamSummary::read(nav.get()));
    try {
        (void)streams.audioStreamEnabled(2);
        QFAIL("no exception");
    } catch (const EngineError &e) {
        QCOMPARE(e.code(), ErrorCode::InvalidArgument);
    }
    QVERIFY_THROWS_EXCEPTION(EngineError, streams.subpictureLanguage(-1));
}

void TestDisc::drawsTheMenuHighlight()
{
    Navigator nav = openDisc();
    QVERIFY(nav);
    pci_t pci{};
    ColourTable clut{};
    QVERIFY(stepToNavPacket(nav.get(), &pci, &clut));

    // The main menu's three buttons; the first lit, where it was authored.
    QCOMPARE(buttonCount(pci), 3);
    int32_t current = 0;
    QCOMPARE(dvdnav_get_current_highlight(nav.get(), &current), DVDNAV_STATUS_OK);
    QCOMPARE(repairButton(pci, current), 1);
    const ButtonArea select = *buttonArea(pci, 1, ButtonMode::Select);
    QCOMPARE(select.rect.topLeft(), QPoint(200, 180));
    QVERIFY(std::abs(select.rect.right() - 520) <= 1 && std::abs(select.rect.bottom() - 240) <= 1);
    QCOMPARE(buttonAt(pci, 360, 300), 2);
    QCOMPARE(buttonAt(pci, 100, 100), 0);

    // Over the menu's subpicture: lit, button 1 gains its frame; pressed, it
    // looks different again.
    const std::vector<Subpicture> menus = decodeStream(kDiscA + QStringLiteral("/VIDEO_TS/VIDEO_TS.VOB"), 0x20);
    QVERIFY(!menus.empty() && menus.front().forced);
    const QImage plain = renderSubpicture(menus.front(), clut);
    const QImage lit = renderHighlighted(menus.front(), clut, select);
    QVERIFY(lit != plain);
    QCOMPARE(lit.copy(0, 100, lit.width(), lit.height() - 100), plain.copy(0, 100, plain.width(), plain.height() - 100));
    QVERIFY(renderHighlighted(menus.front(), clut, *buttonArea(pci, 1, ButtonMode::Activate)) != lit);
}

QTEST_GUILESS_MAIN(TestDisc)
#include "test_disc.moc"
