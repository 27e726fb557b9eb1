#pragma once
// The audio and subpicture streams of the current title or menu, read from
// the navigator in one go.
//
// The navigation thread (the only thread that touches the dvdnav_t) calls
// read() after each event that can change the program chain (CELL_CHANGE,
// VTS_CHANGE, AUDIO_STREAM_CHANGE, SPU_STREAM_CHANGE) and hands the value to
// the UI thread, which answers the engine's stream queries from it without
// touching libdvdnav. Comparing two summaries tells whether the set of
// streams changed (the engine's title information event).
//
// Stream numbers are logical (what the disc's menus and the player count,
// from 0). A stream is enabled when the current program chain carries it;
// libdvdnav maps it to the physical stream (the substream id's low bits)
// that the demuxer must follow. Languages are English names ("English",
// "Unknown" when the disc gives none).
//
// Counts: in a title, one past the highest logical stream the program chain
// carries (at most 8 audio, 32 subpicture streams). Menus have at most one
// stream of each kind and libdvdnav maps every number to it, so a menu
// counts 1 audio and 1 subpicture stream. Before the navigator has started
// (or after it stopped) both counts are 0.

#include <QString>
#include <cstdint>
#include <vector>

struct dvdnav_s;

namespace velmora {

struct StreamEntry
{
    int physical = -1;                  // substream number, -1: not in this program chain
    std::uint16_t languageCode = 0xFFFF; // two ISO 639-1 letters, 0xFFFF none
    QString language;                   // English name or "Unknown"

    bool enabled() const { return physical >= 0; }
    friend bool operator==(const StreamEntry &, const StreamEntry &) = default;
};

class StreamSummary
{
public:
    enum class Domain { None, FirstPlay, Title, TitleSetMenu, VideoManagerMenu };

    // Reads the navigator's current program chain. Navigation thread only.
    static StreamSummary read(dvdnav_s *nav);

    Domain domain() const { return m_domain; }

    // The queries below throw EngineError(InvalidArgument) for a stream
    // number outside 0..count-1. Any thread (the value is immutable).
    int audioStreamCount() const { return static_cast<int>(m_audio.size()); }
    bool audioStreamEnabled(int stream) const { return audio(stream).enabled(); }
    QString audioLanguage(int stream) const { return audio(stream).language; }
    const StreamEntry &audio(int stream) const;

    int subpictureStreamCount() const { return static_cast<int>(m_subpictures.size()); }
    bool subpictureStreamEnabled(int stream) const { return subpicture(stream).enabled(); }
    QString subpictureLanguage(int stream) const { return subpicture(stream).language; }
    const StreamEntry &subpicture(int stream) const;

    // The logical streams the navigator itself would play and show (its
    // registers), -1 for none; the subpicture is -1 while the disc has
    // subtitle display off.
    int navigatorAudio() const { return m_navigatorAudio; }
    int navigatorSubpicture() const { return m_navigatorSubpicture; }
    void setNavigatorChoice(int audio, int subpicture)
    {
        m_navigatorAudio = audio;
        m_navigatorSubpicture = subpicture;
    }

    friend bool operator==(const StreamSummary &, const StreamSummary &) = default;

    // For tests and for building by hand (e.g. a disc's IFO data).
    StreamSummary() = default;
    StreamSummary(Domain domain, std::vector<StreamEntry> audio, std::vector<StreamEntry> subpictures)
        : m_domain(domain), m_audio(std::move(audio)), m_subpictures(std::move(subpictures)) {}

private:
    Domain m_domain = Domain::None;
    std::vector<StreamEntry> m_audio;
    std::vector<StreamEntry> m_subpictures;
    int m_navigatorAudio = -1;
    int m_navigatorSubpicture = -1;
};

} // namespace velmora
