#pragma once
// Plays one DVD audio stream on an AudioOutput and keeps the audio clock,
// the master clock the picture follows.
//
// Pipeline: the feeding thread (the demuxer's) calls submit() with packets;
// they are decoded right there (a DVD audio frame costs well under a
// millisecond) and the 48 kHz stereo chunks go into a bounded queue of about
// Options::queueMs of sound. The player's own audio thread takes chunks from
// the queue and writes them to the output, which paces it at real time.
//
// Serials: every packet carries the serial it was read under. flush(serial)
// makes `serial` the current one: queued sound of any other serial is
// dropped, the device's buffer is thrown away, and from then on only packets
// of the current serial are played (others are dropped on arrival). Call it
// after every seek, jump or stream change, before submitting the new
// serial's packets. The initial serial is 0. A seek that decodes from a
// point before its target passes the target as startPts: the new serial's
// sound before it is dropped, to the sample.
//
// Backpressure: while paused nothing is written, the queue stays full and
// submit() waits (until resume, flush, stop or maxWait).
//
// A lost device: when the output fails for good while playing (a sound
// server restarted, a device unplugged), or cannot be opened at start()
// (missing, busy), playback goes on on a silent stand-in paced by the system
// clock, so the clock and the picture go on too. An output that can be
// reopened (AudioOutput::canReopen) is tried again every ReopenIntervalMs
// while the player runs; once it opens, the sound goes on from the stand-in's
// position, in step with the clock. The DeviceHandler hears of both.
//
// The clock: AudioClock::pts90k is the stream time of the sound being heard
// now = time stamp of the last frame written to the device minus the
// device's delay. Measured after every write (at least every 20 ms), run on
// by the system clock in between, smoothed against the few milliseconds of
// jitter in device delays, and never past the end of what was written. It
// never goes backwards within a serial, does not run while the device holds
// sound back (a sound server starting a stream), stands still while paused
// and keeps running while muted (silence is written in place of the sound).
//
// Threads:
//  - start(), stop() and the destructor: one controlling thread (the engine).
//    stop() returns within about 20 ms (never more than 200 ms), having
//    joined the audio thread and released the device.
//  - setFormat(), submit(), endOfStream(), submitChunk(): the one feeding
//    thread. They may block while the queue is full, never longer than
//    maxWait and never past a stop() or flush() from another thread.
//  - flush(), setStartPts(), setPaused(), setMuted(), clock(), drain() and
//    the getters: any thread, at any time.
//  - the DeviceHandler runs on the audio thread, or inside start() on the
//    control thread; never under the player's lock. It must not call
//    start() or stop().

#include "engine/audio/AudioDecoder.h"
#include "engine/audio/AudioOutput.h"
#include "engine/audio/AudioTypes.h"
#include "engine/audio/HeardClock.h"
#include "engine/audio/LostDevice.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace velmora {

struct AudioClock
{
    std::int64_t pts90k = NoPts; // stream time of the sound heard now
    int serial = 0;              // the serial pts90k belongs to
    // False until the first sound of the current serial reached the output
    // (after start and after every flush): then follow another clock.
    bool valid = false;
    // Everything written has been heard and nothing more is queued (a still,
    // a stream without sound, the end): pts90k stands at the end of the
    // sound and does not run on by itself.
    bool drained = false;
    bool paused = false;
};

class AudioPlayer
{
public:
    struct Options
    {
        int queueMs = 1500; // decoded sound the queue holds before submit() waits
    };

    // The sound device was lost (playback goes on silently on the system
    // clock) or is back. `description` says which device and, when lost, why.
    enum class DeviceEvent { Lost, Back };
    using DeviceHandler = std::function<void(DeviceEvent event, const QString &description)>;

    // Takes the output (open or not). Nothing runs until start().
    explicit AudioPlayer(std::unique_ptr<AudioOutput> output);
    AudioPlayer(std::unique_ptr<AudioOutput> output, Options options);
    ~AudioPlayer(); // stop()
    AudioPlayer(const AudioPlayer &) = delete;
    AudioPlayer &operator=(const AudioPlayer &) = delete;

    // ---- control thread ----
    // Before start(): who hears of a lost device and of its return.
    void setDeviceHandler(DeviceHandler handler);
    // Opens the output when closed and starts the audio thread. When the
    // output cannot be opened, one that can be reopened is replaced by the
    // silent stand-in (DeviceEvent::Lost, and tried again while playing);
    // any other throws EngineError(NoInterface). Does nothing when running.
    // Keeps the current serial, pause and mute.
    void start();
    // Joins the audio thread, drops all queued sound and closes the output.
    // Idempotent. A later start() reopens the output.
    void stop();
    bool isRunning() const;

    // ---- feeding thread ----
    // Chooses the stream to decode; a new decoder starts afresh. Throws
    // EngineError(NoDecoder) when libavcodec cannot decode that codec.
    void setFormat(const AudioFormat &format);
    // Decodes the packet and queues its sound. Returns true when the packet
    // was taken (decoded; sound the queue had no room for waits inside the
    // player and goes first on the next call). Returns false when it was not
    // taken: no format set, stopped, a serial that is not the current one,
    // or sound of an earlier packet still waiting for room after maxWait.
    // A packet refused for want of room may be offered again: it has not
    // been decoded, so its bytes never reach the codec twice.
    bool submit(const AudioPacket &packet,
                std::chrono::milliseconds maxWait = std::chrono::milliseconds::max());
    // No more packets for a while (a still, a WAIT, the end of the title):
    // decodes what the decoder still holds back (a codec parser keeps the
    // last frame until it sees the next one) and queues it.
    void endOfStream(std::chrono::milliseconds maxWait = std::chrono::milliseconds::max());
    // Queues sound that is already decoded (tools, tests). Same rules.
    bool submitChunk(AudioChunk chunk,
                     std::chrono::milliseconds maxWait = std::chrono::milliseconds::max());

    // ---- any thread ----
    void flush(int serial, std::int64_t startPts = NoPts);
    // Sound of `serial` before startPts is dropped, to the sample; for a
    // seek whose target on the stream's clock is known only once the
    // serial's first data arrives. Does nothing when serial is not current.
    void setStartPts(int serial, std::int64_t startPts);
    void setPaused(bool paused);
    bool isPaused() const;
    // Silence instead of sound; the clock runs on.
    void setMuted(bool muted);
    bool isMuted() const;
    AudioClock clock() const;
    // Waits until everything queued has been written and heard. False on
    // timeout, or when not running or paused.
    bool drain(std::chrono::milliseconds timeout);
    // Sound queued and not yet written to the output.
    std::chrono::milliseconds queuedDuration() const;
    // The output in use: the silent stand-in (said in the log) while the
    // device is lost, the device again once it is back.
    QString outputDescription() const;
    bool outputIsSilent() const;
    // The device failed or could not be opened, and is not back yet.
    bool deviceLost() const;
    // Frames the decoder could not decode (damaged input).
    int decodeErrors() const;

    // The audio thread wakes at least this often to notice commands.
    static constexpr int IdleWaitMs = 10;
    // How often a lost device is tried again.
    static constexpr int ReopenIntervalMs = 1000;

private:
    using SteadyClock = std::chrono::steady_clock;

    void run();
    bool enqueue(AudioChunk &&chunk, std::chrono::milliseconds maxWait);
    // Audio thread: writes the next piece of m_current; false when the
    // output failed for good.
    bool writeSome(bool muted);
    // Audio thread: the output failed for good; the stand-in takes over.
    void replaceFailedOutput();
    // Audio thread (control thread in start()): tries the lost device again;
    // true when it plays again.
    bool reclaimDevice();
    // Publishes the output in use and tells the handler of a change.
    void outputChanged(std::optional<DeviceEvent> event);
    // Audio thread: writes that much silence to the output (as far as it takes it).
    void writeSilence(std::int64_t frames);
    // Audio thread: reports what was written and the device's delay.
    void publishPosition(std::int64_t writtenFrames, std::int64_t delayFrames);
    std::int64_t capacityFrames() const;
    // Moves m_pending into the queue; false while some of it still waits for
    // room. Stale sound (an old serial, a stopped player) is dropped.
    bool deliverPending(std::chrono::milliseconds maxWait);

    const Options m_options;

    // ---- feeding thread only ----
    std::unique_ptr<AudioDecoder> m_decoder;
    int m_decoderFlushCount = 0; // m_flushCount when the decoder last started afresh
    int m_decoderErrorsSeen = 0;
    std::vector<AudioChunk> m_decoded; // scratch, reused between packets
    std::deque<AudioChunk> m_pending;  // decoded, waiting for room in the queue

    // ---- the audio thread's while it runs; the control thread's otherwise ----
    std::unique_ptr<AudioOutput> m_output;
    // The device that failed, closed, while the stand-in plays.
    LostDevice m_lost{std::chrono::milliseconds(ReopenIntervalMs)};
    AudioChunk m_current;              // chunk being written (empty: none)
    std::int64_t m_currentOffset = 0;  // frames of m_current already written
    int m_currentFlushCount = 0;       // m_flushCount when m_current was taken
    std::int64_t m_threadEndPts = NoPts; // end of the last frame written
    std::int64_t m_threadDelay = 0;      // the output's delay as last read
    int m_threadFlushCount = 0;        // flushes the audio thread has applied
    bool m_outputPaused = false;
    std::vector<std::int16_t> m_silence;

    std::thread m_thread; // control thread only

    // m_mutex guards every field below. m_changed is signalled whenever any
    // of them changes: queue room for submit(), work and commands for the
    // audio thread, the position for drain().
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<AudioChunk> m_queue;
    std::int64_t m_queuedFrames = 0; // in m_queue plus the unwritten rest of m_current
    std::optional<AudioFormat> m_format;
    int m_serial = 0;
    int m_flushCount = 0; // bumped by flush(); the audio thread catches up
    std::int64_t m_startPts = NoPts; // sound of m_serial before this is dropped
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_paused = false;
    bool m_muted = false;
    QString m_outputDescription;
    bool m_outputSilent = false;
    bool m_deviceLost = false;
    DeviceHandler m_deviceHandler;
    int m_decodeErrors = 0;
    // The clock as last measured by the audio thread (or frozen by a pause).
    HeardClock m_heard;
    bool m_deviceEmpty = true; // the device's delay read 0
};

} // namespace velmora
