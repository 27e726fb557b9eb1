#include "engine/nav/StreamSummary.h"

#include "engine/EngineError.h"
#include "engine/nav/LanguageNames.h"

#include <dvdnav/dvdnav.h>

namespace velmora {

namespace {

// The program chain's stream tables hold 8 audio and 32 subpicture entries;
// libdvdnav reads its attribute tables unchecked, so never ask beyond them.
constexpr int kAudioSlots = 8;
constexpr int kSubpictureSlots = 32;

StreamSummary::Domain domainOf(dvdnav_t *nav)
{
    // Each returns 1 for its domain, 0 for another, -1 before the
    // navigator has started.
    if (dvdnav_is_domain_vts(nav) == 1)
        return StreamSummary::Domain::Title;
    if (dvdnav_is_domain_vtsm(nav) == 1)
        return StreamSummary::Domain::TitleSetMenu;
    if (dvdnav_is_domain_vmgm(nav) == 1)
        return StreamSummary::Domain::VideoManagerMenu;
    if (dvdnav_is_domain_fp(nav) == 1)
        return StreamSummary::Domain::FirstPlay;
    return StreamSummary::Domain::None;
}

template<typename Physical, typename Language>
std::vector<StreamEntry> readStreams(dvdnav_t *nav, int slotCount, bool inTitle, Physical physicalOf, Language languageOf)
{
    std::vector<StreamEntry> streams;
    const int count = inTitle ? slotCount : 1;
    for (int n = 0; n < count; ++n) {
        StreamEntry entry;
        entry.physical = physicalOf(nav, static_cast<std::uint8_t>(n));
        entry.languageCode = languageOf(nav, static_cast<std::uint8_t>(n));
        entry.language = languageName(entry.languageCode);
        streams.push_back(entry);
    }
    // Drop the absent streams after the last present one.
    while (!streams.empty() && !streams.back().enabled())
        streams.pop_back();
    return streams;
}

const StreamEntry &entryAt(const std::vector<StreamEntry> &streams, int stream, const char *kind)
{
    if (stream < 0 || stream >= static_cast<int>(streams.size()))
        throw EngineError(ErrorCode::InvalidArgument,
                          QStringLiteral("No %1 stream %2 (there are %3)")
                              .arg(QLatin1String(kind)).arg(stream).arg(streams.size()));
    return streams[static_cast<std::size_t>(stream)];
}

} // namespace

StreamSummary StreamSummary::read(dvdnav_s *nav)
{
    if (!nav)
        return {};
    const Domain domain = domainOf(nav);
    if (domain == Domain::None)
        return {};
    const bool inTitle = domain == Domain::Title;
    auto audioPhysical = [](dvdnav_t *n, std::uint8_t s) { return int(dvdnav_get_audio_logical_stream(n, s)); };
    auto spuPhysical = [](dvdnav_t *n, std::uint8_t s) { return int(dvdnav_get_spu_logical_stream(n, s)); };
    StreamSummary summary(domain,
                          readStreams(nav, kAudioSlots, inTitle, audioPhysical, dvdnav_audio_stream_to_lang),
                          readStreams(nav, kSubpictureSlots, inTitle, spuPhysical, dvdnav_spu_stream_to_lang));
    // Audio: the value is taken as a logical number, as the pipeline plays
    // it. Subpicture: libdvdnav answers with the physical stream, negative
    // (0x80 set) while the disc has display off; map it back to the first
    // logical stream carrying it.
    const int audio = dvdnav_get_active_audio_stream(nav);
    const int spu = dvdnav_get_active_spu_stream(nav);
    int spuLogical = -1;
    for (int n = 0; spu >= 0 && n < summary.subpictureStreamCount() && spuLogical < 0; ++n) {
        const StreamEntry &entry = summary.subpicture(n);
        if (entry.enabled() && (entry.physical & 0x1F) == (spu & 0x1F))
            spuLogical = n;
    }
    summary.setNavigatorChoice(audio >= 0 && audio < kAudioSlots ? audio : -1, spuLogical);
    return summary;
}

const StreamEntry &StreamSummary::audio(int stream) const
{
    return entryAt(m_audio, stream, "audio");
}

const StreamEntry &StreamSummary::subpicture(int stream) const
{
    return entryAt(m_subpictures, stream, "subpicture");
}

} // namespace velmora
