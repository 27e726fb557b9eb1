// On the authored disc A, through libdvdnav: the streams of title 1 and of
// the main menu, and the main menu's buttons highlighted over its decoded
// subpicture. Skipped when the discs have not been authored.

#include "engine/EngineError.h"
#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/StreamSummary.h"
#include "engine/spu/SubpictureAssembler.h"
#include "tests/engine_spu/VobReader.h"

#include <QFileInfo>
#include <QtTest>
#include <cstring>
#include <memory>

using namespace velmora;

namespace {

const QString kDiscA = QStringLiteral(VELMORA_DISC_DIR "/A");

// libdvdnav opened quietly (its log goes to stdout otherwise).
struct NavigatorCloser
{
    void operator()(dvdnav_t *nav) const { dvdnav_close(nav); }
};
using Navigator = std::unique_ptr<dvdnav_t, NavigatorCloser>;

void quiet(void *, dvdnav_logger_level_t, const char *, va_list) {}

Navigator openDisc(const QString &path)
{
    static dvdnav_logger_cb logger{quiet};
    dvdnav_t *nav = nullptr;
    if (dvdnav_open2(&nav, nullptr, &logger, QFile::encodeName(path).constData()) != DVDNAV_STATUS_OK)
        return nullptr;
    Navigator owned(nav);
    dvdnav_set_PGC_positioning_flag(nav, 1);
    return owned;
}

struct MenuState
{
    ColourTable clut{};
    bool haveClut = false;
    pci_t pci{};
};

// Steps the navigator to its next NAV packet, keeping the colour table
// handed out on the way. False on errors, STOP, or after too many blocks.
bool stepToNavPacket(dvdnav_t *nav, MenuState *state = nullptr)
{
    std::uint8_t block[DVD_VIDEO_LB_LEN];
    for (int i = 0; i < 2000; ++i) {
        int32_t event = 0;
        int32_t length = 0;
        if (dvdnav_get_next_block(nav, block, &event, &length) != DVDNAV_STATUS_OK)
            return false;
        switch (event) {
        case DVDNAV_NAV_PACKET:
            if (state)
                std::memcpy(&state->pci, dvdnav_get_current_nav_pci(nav), sizeof(pci_t));
            return true;
        case DVDNAV_SPU_CLUT_CHANGE:
            if (state && length >= int32_t(sizeof(state->clut))) {
                std::memcpy(state->clut.data(), block, sizeof(state->clut));
                state->haveClut = true;
            }
            break;
        case DVDNAV_STILL_FRAME:
            dvdnav_still_skip(nav);
            break;
        case DVDNAV_WAIT:
            dvdnav_wait_skip(nav);
            break;
        case DVDNAV_STOP:
            return false;
        default:
            break;
        }
    }
    return false;
}

} // namespace

class TestDiscStreamsMenus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsTheStreamsOfTitle1();
    void readsTheStreamsOfTheMainMenu();
    void refusesStreamsOutsideTheCount();
    void highlightsTheMainMenuButtons();
};

void TestDiscStreamsMenus::init()
{
    if (!QFileInfo::exists(kDiscA + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO")))
        QSKIP("test discs not authored (tests/discs/author.sh)");
}

void TestDiscStreamsMenus::readsTheStreamsOfTitle1()
{
    Navigator nav = openDisc(kDiscA);
    QVERIFY(nav);
    QCOMPARE(StreamSummary::read(nav.get()).audioStreamCount(), 0); // not started yet
    QCOMPARE(dvdnav_title_play(nav.get(), 1), DVDNAV_STATUS_OK);
    QVERIFY(stepToNavPacket(nav.get()));

    const StreamSummary streams = StreamSummary::read(nav.get());
    QCOMPARE(streams.domain(), StreamSummary::Domain::Title);
    QCOMPARE(streams.audioStreamCount(), 2);
    QVERIFY(streams.audioStreamEnabled(0));
    QVERIFY(streams.audioStreamEnabled(1));
    QCOMPARE(streams.audioLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.audioLanguage(1), QStringLiteral("French"));
    QCOMPARE(streams.subpictureStreamCount(), 2);
    QVERIFY(streams.subpictureStreamEnabled(0));
    QVERIFY(streams.subpictureStreamEnabled(1));
    QCOMPARE(streams.subpictureLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.subpictureLanguage(1), QStringLiteral("German"));
    // Logical streams map to the substreams the disc was authored with.
    QCOMPARE(streams.subpicture(0).physical, 0);
    QCOMPARE(streams.subpicture(1).physical, 1);
    QCOMPARE(streams, StreamSummary::read(nav.get()));
}

void TestDiscStreamsMenus::readsTheStreamsOfTheMainMenu()
{
    Navigator nav = openDisc(kDiscA);
    QVERIFY(nav);
    QVERIFY(stepToNavPacket(nav.get())); // first play jumps to the main menu
    const StreamSummary streams = StreamSummary::read(nav.get());
    QCOMPARE(streams.domain(), StreamSummary::Domain::VideoManagerMenu);
    QCOMPARE(streams.audioStreamCount(), 1);
    QCOMPARE(streams.audioLanguage(0), QStringLiteral("English"));
    QCOMPARE(streams.subpictureStreamCount(), 1);
    QVERIFY(streams.subpictureStreamEnabled(0));
}

void TestDiscStreamsMenus::refusesStreamsOutsideTheCount()
{
    const StreamSummary streams(StreamSummary::Domain::Title, {StreamEntry{0, 0x656E, "English"}},
                                {StreamEntry{-1, 0xFFFF, "Unknown"}, StreamEntry{1, 0x6465, "German"}});
    QVERIFY(!streams.subpictureStreamEnabled(0));
    QVERIFY(streams.subpictureStreamEnabled(1));
    for (int bad : {-1, 1, 8, 255}) {
        try {
            (void)streams.audioStreamEnabled(bad);
            QFAIL("no exception");
        } catch (const EngineError &e) {
            QCOMPARE(e.code(), ErrorCode::InvalidArgument);
        }
    }
    QVERIFY_THROWS_EXCEPTION(EngineError, streams.subpictureLanguage(2));
    QVERIFY_THROWS_EXCEPTION(EngineError, StreamSummary().audioLanguage(0));
}

void TestDiscStreamsMenus::highlightsTheMainMenuButtons()
{
    Navigator nav = openDisc(kDiscA);
    QVERIFY(nav);
    MenuState state;
    QVERIFY(stepToNavPacket(nav.get(), &state));
    QVERIFY(state.haveClut);

    // Three buttons, the first at the place the disc was authored with.
    QCOMPARE(buttonCount(state.pci), 3);
    const auto select = buttonArea(state.pci, 1, ButtonMode::Select);
    const auto activate = buttonArea(state.pci, 1, ButtonMode::Activate);
    QVERIFY(select && activate);
    QCOMPARE(select->rect.topLeft(), QPoint(200, 180));
    QVERIFY(std::abs(select->rect.right() - 520) <= 1 && std::abs(select->rect.bottom() - 240) <= 1);
    QVERIFY(select->hasColours);
    QVERIFY(select->colour != activate->colour || select->contrast != activate->contrast);
    QCOMPARE(buttonAt(state.pci, 300, 300), 2);
    QCOMPARE(buttonAt(state.pci, 100, 100), 0);
    QCOMPARE(repairButton(state.pci, 0), 1);

    // The menu's subpicture, from the menu VOB.
    SubpictureAssembler assembler;
    std::optional<Subpicture> menu;
    for (const auto &p : spu_test::readSubpicturePackets(kDiscA + QStringLiteral("/VIDEO_TS/VIDEO_TS.VOB"))) {
        if (p.substream != 0x20)
            continue;
        if (auto unit = assembler.push(p.payload, p.pts)) {
            menu = decodeSubpicture(unit->bytes);
            break;
        }
    }
    QVERIFY(menu);
    QVERIFY(menu->forced);

    // Highlighted, button 1 shows visible pixels; button 2 does not.
    const QImage lit = renderHighlighted(*menu, state.clut, *select);
    QCOMPARE(lit.size(), QSize(menu->width, menu->height));
    auto visibleIn = [&](const QImage &image, const QRect &pictureRect) {
        int visible = 0;
        const QRect r = pictureRect.translated(-menu->x, -menu->y).intersected(image.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                visible += qAlpha(image.pixel(x, y)) > 0;
        return visible;
    };
    QVERIFY(visibleIn(lit, select->rect) > 100);
    const auto second = buttonArea(state.pci, 2, ButtonMode::Select);
    QVERIFY(second);
    QCOMPARE(visibleIn(lit, second->rect), visibleIn(renderSubpicture(*menu, state.clut), second->rect));
    const QImage pressed = renderHighlighted(*menu, state.clut, *activate);
    QVERIFY(pressed != lit);

    // A picture for a person to look at when something goes wrong.
    const QString out = qEnvironmentVariable("VELMORA_SPU_DUMP");
    if (!out.isEmpty())
        lit.save(out + QStringLiteral("/main-menu-button1.png"));
}

QTEST_GUILESS_MAIN(TestDiscStreamsMenus)
#include "test_disc_streams_menus.moc"
