#pragma once
// The one owner of the flush serial.
//
// Every seek, jump, menu call and scan step starts a new serial. Whatever
// was read under an older one is dropped: the video queue refuses and
// empties it, the sound player drops its packets and its queued sound. Both
// follow this object and nothing else; no one else picks serial numbers.
//
// A sound player outlives the pipelines that feed it (the engine keeps one
// for the whole disc); rejoin() has it take this pipeline's serial when the
// pipeline starts, so playback after an earlier run (which left the player
// on its own last serial) is heard.
//
// Threads: not locked. The pipeline calls it under its state lock, so the
// serial and the followers change together (lock order: the pipeline's
// state lock, then the followers' own locks).

#include "engine/core/BoundedQueue.h"

#include <cstdint>

namespace velmora {
class AudioPlayer;
}

namespace velmora::core {

struct VideoItem;

class FlushSerial
{
public:
    FlushSerial(BoundedQueue<VideoItem> &video, AudioPlayer *audio) : m_video(video), m_audio(audio) {}

    int current() const { return m_serial; }
    // A new serial; the followers drop everything older at once.
    int advance();
    // The followers take the current serial (at start).
    void rejoin();
    // The last serial: at stop, so a thread waiting for room in a follower is released.
    void retire();

private:
    BoundedQueue<VideoItem> &m_video;
    AudioPlayer *m_audio;
    int m_serial = 0;
};

} // namespace velmora::core
