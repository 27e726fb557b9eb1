#pragma once
// Turns one DVD audio stream's packets into 48 kHz S16 stereo chunks.
//
// AC-3, DTS, MPEG audio and LPCM through libavcodec; the codec parsers cut
// the byte stream into frames however the packets split it, and each
// packet's time stamp goes to the frame that starts in it. LPCM packets are
// decoded whole and their stamp is taken for their first sample (at most
// one 1/600 s LPCM frame early when a packet begins with the tail of one). libswresample converts
// whatever the stream is (5.1 AC-3/DTS, 44.1/96 kHz, 20/24-bit LPCM) to the
// one output shape, downmixing surround to two channels.
//
// Threads: an AudioDecoder is used by one thread at a time; it has no locks.
// Damaged input never throws: a frame that fails to decode is skipped (and
// counted in errorCount()).

#include "engine/audio/AudioTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVPacket;

namespace velmora {

class AudioDecoder
{
public:
    // Throws EngineError(ErrorCode::NoDecoder) when libavcodec lacks the
    // decoder (or parser) for format.codec.
    explicit AudioDecoder(const AudioFormat &format);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    const AudioFormat &format() const { return m_format; }

    // Decodes one packet and appends every chunk it completes to out. A
    // packet may complete no chunk (a frame still incomplete) or several.
    // Chunks carry packet.serial. A chunk without a stream time stamp gets
    // the previous chunk's end; before the first time stamp, NoPts.
    // Starting afresh (new, after reset() or finish()), a framed codec skips
    // the bytes before packet.frameOffset, and whole packets in which no
    // frame starts, so its parser never takes the middle of a frame for one.
    void decode(const AudioPacket &packet, std::vector<AudioChunk> &out);

    // The end of the stream (before a still, a WAIT, the end of a title):
    // decodes the frame the parser still holds back and appends its chunks.
    // The decoder stays usable; its next packet should start a frame.
    void finish(std::vector<AudioChunk> &out, int serial);

    // Forgets every partial frame and the time-stamp history, e.g. after a
    // jump: the next packet starts afresh.
    void reset();

    // Frames that failed to decode since construction.
    int errorCount() const { return m_errorCount; }

private:
    struct Impl;
    void decodeParsed(const std::uint8_t *frameData, int frameSize, int serial, std::vector<AudioChunk> &out);
    void decodeFrames(const AVPacket *packet, int serial, std::vector<AudioChunk> &out);

    AudioFormat m_format;
    std::unique_ptr<Impl> m_impl;
    int m_errorCount = 0;
};

} // namespace velmora
