#include "engine/audio/AudioPlayer.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioLog.h"
#include "engine/audio/NullOutput.h"

#include <algorithm>

namespace velmora {

namespace {
// Frames handed to the output per write: small enough that the clock is
// measured every 20 ms and commands are noticed quickly.
constexpr std::int64_t MaxWriteFrames = OutputRate / 50;
} // namespace

AudioPlayer::AudioPlayer(std::unique_ptr<AudioOutput> output) : AudioPlayer(std::move(output), Options{})
{
}

AudioPlayer::AudioPlayer(std::unique_ptr<AudioOutput> output, Options options)
    : m_options(options), m_output(std::move(output))
{
    if (!m_output)
        m_output = std::make_unique<NullOutput>();
    m_outputDescription = m_output->description();
    m_outputSilent = m_output->isSilent();
}

AudioPlayer::~AudioPlayer()
{
    stop();
}

// ---------------------------------------------------------------- control

void AudioPlayer::setDeviceHandler(DeviceHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_deviceHandler = std::move(handler);
}

void AudioPlayer::start()
{
    if (m_thread.joinable())
        return;
    std::optional<DeviceEvent> event;
    if (m_lost.holds() && reclaimDevice())
        event = DeviceEvent::Back;
    try {
        m_output->open();
    } catch (const EngineError &e) {
        if (!m_output->canReopen())
            throw;
        // A missing or busy device does not stop the picture: play on
        // silently and keep trying the device.
        const bool wasLost = deviceLost();
        if (!wasLost)
            qCWarning(lcAudio).noquote() << e.message()
                                         << "- playing without sound, on the system clock, until the device can be opened";
        m_lost.hold(std::move(m_output));
        m_output = std::make_unique<NullOutput>(e.message());
        m_output->open();
        event = wasLost ? std::nullopt : std::optional(DeviceEvent::Lost);
    }
    outputChanged(event);
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
        m_stopRequested = false;
        m_heard.reset();
        m_deviceEmpty = true;
        m_threadFlushCount = m_flushCount;
    }
    m_current = AudioChunk{};
    m_currentOffset = 0;
    m_threadEndPts = NoPts;
    m_threadDelay = 0;
    m_outputPaused = false;
    m_thread = std::thread(&AudioPlayer::run, this);
}

void AudioPlayer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        m_stopRequested = true;
        m_queue.clear();
        m_queuedFrames = 0;
        m_heard.reset();
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // A try of the lost device under way: it is ours again once done.
    m_lost.settle();
    {
        // The thread may have published once more before it saw the stop.
        std::lock_guard lock(m_mutex);
        m_heard.reset();
        m_deviceEmpty = true;
    }
    m_current = AudioChunk{};
    m_currentOffset = 0;
    if (m_output->isOpen()) {
        m_output->discard();
        m_output->close();
    }
}

bool AudioPlayer::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

// ---------------------------------------------------------------- feeding

void AudioPlayer::setFormat(const AudioFormat &format)
{
    auto decoder = std::make_unique<AudioDecoder>(format); // throws NoDecoder
    std::lock_guard lock(m_mutex);
    m_decoder = std::move(decoder);
    m_decoderFlushCount = m_flushCount;
    m_decoderErrorsSeen = 0;
    m_format = format;
}

bool AudioPlayer::submit(const AudioPacket &packet, std::chrono::milliseconds maxWait)
{
    int flushCount = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || !m_decoder || packet.serial != m_serial)
            return false;
        flushCount = m_flushCount;
    }
    // A flush since the last packet: what the decoder holds belongs to the
    // old position.
    if (flushCount != m_decoderFlushCount) {
        m_decoder->reset();
        m_decoderFlushCount = flushCount;
        m_pending.clear();
    }
    // Sound of the previous packet first. Until it is queued this packet is
    // not touched: a caller that offers it again must not feed the codec the
    // same bytes twice (its parser would see a broken stream).
    if (!deliverPending(maxWait))
        return false;
    m_decoded.clear();
    m_decoder->decode(packet, m_decoded);
    if (m_decoder->errorCount() != m_decoderErrorsSeen) {
        std::lock_guard lock(m_mutex);
        m_decodeErrors += m_decoder->errorCount() - m_decoderErrorsSeen;
        m_decoderErrorsSeen = m_decoder->errorCount();
    }
    for (AudioChunk &chunk : m_decoded)
        m_pending.push_back(std::move(chunk));
    deliverPending(maxWait);
    return true;
}

bool AudioPlayer::deliverPending(std::chrono::milliseconds maxWait)
{
    while (!m_pending.empty()) {
        AudioChunk &chunk = m_pending.front();
        const int serial = chunk.serial;
        if (!enqueue(std::move(chunk), maxWait)) {
            std::lock_guard lock(m_mutex);
            if (!m_running || serial != m_serial) {
                m_pending.clear();
                return true;
            }
            return false;
        }
        m_pending.pop_front();
    }
    return true;
}

void AudioPlayer::endOfStream(std::chrono::milliseconds maxWait)
{
    int serial = 0;
    int flushCount = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || !m_decoder)
            return;
        serial = m_serial;
        flushCount = m_flushCount;
    }
    if (flushCount != m_decoderFlushCount) {
        // Flushed since the last packet: what the decoder holds is stale.
        m_decoder->reset();
        m_decoderFlushCount = flushCount;
        m_pending.clear();
        return;
    }
    if (!deliverPending(maxWait))
        return;
    m_decoded.clear();
    m_decoder->finish(m_decoded, serial);
    for (AudioChunk &chunk : m_decoded) {
        if (!enqueue(std::move(chunk), maxWait))
            return;
    }
}

bool AudioPlayer::submitChunk(AudioChunk chunk, std::chrono::milliseconds maxWait)
{
    return enqueue(std::move(chunk), maxWait);
}

std::int64_t AudioPlayer::capacityFrames() const
{
    return std::int64_t(OutputRate) * std::max(m_options.queueMs, 1) / 1000;
}

bool AudioPlayer::enqueue(AudioChunk &&chunk, std::chrono::milliseconds maxWait)
{
    if (chunk.frames() == 0)
        return true;
    std::unique_lock lock(m_mutex);
    const std::int64_t capacity = capacityFrames();
    // An empty queue takes any chunk, however long, so nothing can wait forever.
    auto settled = [&] {
        return !m_running || chunk.serial != m_serial || m_queuedFrames == 0 ||
               m_queuedFrames + chunk.frames() <= capacity;
    };
    if (maxWait == std::chrono::milliseconds::max())
        m_changed.wait(lock, settled);
    else
        m_changed.wait_for(lock, maxWait, settled);
    if (!m_running || chunk.serial != m_serial)
        return false;
    if (m_queuedFrames != 0 && m_queuedFrames + chunk.frames() > capacity)
        return false;
    if (m_startPts != NoPts && chunk.pts90k != NoPts && chunk.pts90k < m_startPts) {
        // Decoded from before a seek target: keep only what lies at or after it.
        const std::int64_t skip = std::min(ticksToFrames(m_startPts - chunk.pts90k), chunk.frames());
        if (skip == chunk.frames())
            return true;
        chunk.samples.erase(chunk.samples.begin(), chunk.samples.begin() + std::ptrdiff_t(skip * OutputChannels));
        chunk.pts90k += framesToTicks(skip);
    }
    m_queuedFrames += chunk.frames();
    m_queue.push_back(std::move(chunk));
    lock.unlock();
    m_changed.notify_all();
    return true;
}

// ---------------------------------------------------------------- any thread

void AudioPlayer::setStartPts(int serial, std::int64_t startPts)
{
    std::lock_guard lock(m_mutex);
    if (serial == m_serial)
        m_startPts = startPts;
}

void AudioPlayer::flush(int serial, std::int64_t startPts)
{
    {
        std::lock_guard lock(m_mutex);
        m_serial = serial;
        m_startPts = startPts;
        ++m_flushCount;
        m_queue.clear();
        m_queuedFrames = 0;
        m_heard.reset();
        // Stale sound is still in the device until the audio thread drops it.
        m_deviceEmpty = !m_running;
    }
    m_changed.notify_all();
}

void AudioPlayer::setPaused(bool paused)
{
    {
        std::lock_guard lock(m_mutex);
        if (paused == m_paused)
            return;
        // Freeze the clock where it is now; on resume it runs on from there.
        m_heard.setPaused(paused, SteadyClock::now());
        m_paused = paused;
    }
    m_changed.notify_all();
}

bool AudioPlayer::isPaused() const
{
    std::lock_guard lock(m_mutex);
    return m_paused;
}

void AudioPlayer::setMuted(bool muted)
{
    std::lock_guard lock(m_mutex);
    m_muted = muted;
}

bool AudioPlayer::isMuted() const
{
    std::lock_guard lock(m_mutex);
    return m_muted;
}

AudioClock AudioPlayer::clock() const
{
    std::lock_guard lock(m_mutex);
    AudioClock c;
    c.serial = m_serial;
    c.paused = m_paused;
    if (!m_heard.valid())
        return c;
    c.pts90k = m_heard.report(SteadyClock::now(), !m_paused);
    c.valid = true;
    c.drained = m_queuedFrames == 0 && m_deviceEmpty;
    return c;
}

bool AudioPlayer::drain(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    auto done = [&] { return !m_running || m_paused ? false : m_queuedFrames == 0 && m_deviceEmpty; };
    auto over = [&] { return !m_running || done(); };
    m_changed.wait_for(lock, timeout, over);
    return done();
}

std::chrono::milliseconds AudioPlayer::queuedDuration() const
{
    std::lock_guard lock(m_mutex);
    return std::chrono::milliseconds(m_queuedFrames * 1000 / OutputRate);
}

QString AudioPlayer::outputDescription() const
{
    std::lock_guard lock(m_mutex);
    return m_outputDescription;
}

bool AudioPlayer::outputIsSilent() const
{
    std::lock_guard lock(m_mutex);
    return m_outputSilent;
}

bool AudioPlayer::deviceLost() const
{
    std::lock_guard lock(m_mutex);
    return m_deviceLost;
}

int AudioPlayer::decodeErrors() const
{
    std::lock_guard lock(m_mutex);
    return m_decodeErrors;
}

// ---------------------------------------------------------------- audio thread

void AudioPlayer::run()
{
    for (;;) {
        bool paused = false;
        bool muted = false;
        bool flushed = false;
        {
            std::unique_lock lock(m_mutex);
            if (m_stopRequested)
                break;
            if (m_flushCount != m_threadFlushCount) {
                m_threadFlushCount = m_flushCount;
                flushed = true;
            }
            paused = m_paused;
            muted = m_muted;
            if (!flushed && !paused && m_current.samples.empty() && !m_queue.empty()) {
                m_current = std::move(m_queue.front());
                m_queue.pop_front();
                m_currentOffset = 0;
                m_currentFlushCount = m_flushCount;
            }
        }
        if (flushed) {
            m_current = AudioChunk{};
            m_currentOffset = 0;
            m_threadEndPts = NoPts;
            m_output->discard();
            publishPosition(0, 0);
            continue;
        }
        if (m_lost.tryFinished()) {
            if (reclaimDevice())
                outputChanged(DeviceEvent::Back);
            continue;
        }
        m_lost.tryWhenDue();
        if (paused != m_outputPaused) {
            m_output->setPaused(paused);
            m_outputPaused = paused;
            if (!paused)
                publishPosition(0, m_output->delayFrames());
            continue;
        }
        if (paused || m_current.samples.empty()) {
            if (!paused) {
                // Nothing to play: let a short ending be heard and keep the
                // position (and drain()) up to date while the device empties.
                m_output->startIfWaiting();
                publishPosition(0, m_output->delayFrames());
            }
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::milliseconds(IdleWaitMs), [&] {
                return m_stopRequested || m_flushCount != m_threadFlushCount || m_paused != paused ||
                       (!paused && !m_queue.empty());
            });
            continue;
        }
        if (!writeSome(muted))
            replaceFailedOutput();
    }
}

bool AudioPlayer::writeSome(bool muted)
{
    const std::int64_t left = m_current.frames() - m_currentOffset;
    const int count = int(std::min(left, MaxWriteFrames));
    const std::int16_t *src = m_current.samples.data() + m_currentOffset * OutputChannels;
    if (muted) {
        // Silence of the same length keeps the device, and so the clock, going.
        if (m_silence.size() < std::size_t(count) * OutputChannels)
            m_silence.assign(std::size_t(count) * OutputChannels, 0);
        src = m_silence.data();
    }
    const int written = m_output->write(src, count);
    if (written < 0)
        return false;
    m_currentOffset += written;
    if (m_current.pts90k != NoPts)
        m_threadEndPts = m_current.pts90k + framesToTicks(m_currentOffset);
    const std::int64_t delay = m_output->delayFrames();
    publishPosition(written, delay);
    if (m_currentOffset >= m_current.frames())
        m_current = AudioChunk{};
    return true;
}

void AudioPlayer::writeSilence(std::int64_t frames)
{
    if (frames <= 0)
        return;
    if (m_silence.size() < std::size_t(frames) * OutputChannels)
        m_silence.assign(std::size_t(frames) * OutputChannels, 0);
    // An empty output takes its whole buffer at once; a few tries at most.
    for (int tries = 0; frames > 0 && tries < 4; ++tries) {
        const int written = m_output->write(m_silence.data(), int(frames));
        if (written <= 0)
            return;
        frames -= written;
    }
}

void AudioPlayer::publishPosition(std::int64_t writtenFrames, std::int64_t delayFrames)
{
    m_threadDelay = delayFrames;
    {
        std::lock_guard lock(m_mutex);
        // A flush came in while writing: what was just written is stale and
        // says nothing about the new position.
        if (m_flushCount != m_threadFlushCount)
            return;
        if (!m_current.samples.empty() && m_currentFlushCount != m_flushCount)
            return;
        m_queuedFrames = std::max<std::int64_t>(m_queuedFrames - writtenFrames, 0);
        m_deviceEmpty = delayFrames == 0;
        if (m_threadEndPts != NoPts) {
            m_heard.written(m_threadEndPts);
            // Paused, the clock stays where pause() froze it; a write still
            // in flight when the pause came must not move it.
            if (!m_paused)
                m_heard.measured(m_threadEndPts - framesToTicks(delayFrames), delayFrames == 0, SteadyClock::now());
        }
    }
    m_changed.notify_all();
}

void AudioPlayer::replaceFailedOutput()
{
    const QString failed = m_output->description();
    m_output->close();
    if (m_output->canReopen()) {
        qCWarning(lcAudio).noquote() << failed
                                     << "failed; playing on without sound, on the system clock, until it can be opened again";
        m_lost.hold(std::move(m_output));
    } else {
        qCWarning(lcAudio).noquote() << failed << "failed; playing on without sound, on the system clock";
    }
    m_output = std::make_unique<NullOutput>(QStringLiteral("%1 failed").arg(failed));
    m_output->open();
    m_outputPaused = false;
    // What the device still held is lost with it; the stand-in starts with
    // as much silence, so the clock (and the picture following it) goes on
    // without a step.
    writeSilence(m_threadDelay);
    outputChanged(DeviceEvent::Lost);
}

bool AudioPlayer::reclaimDevice()
{
    std::unique_ptr<AudioOutput> device = m_lost.reclaim();
    if (!device)
        return false;
    // The device takes over where the stand-in stands: it starts with the
    // silence the stand-in had still to "play", so the clock runs on evenly.
    const std::int64_t held = m_output->delayFrames();
    m_output->close();
    m_output = std::move(device);
    m_outputPaused = false;
    writeSilence(held);
    qCInfo(lcAudio).noquote() << "sound is back on" << m_output->description();
    return true;
}

void AudioPlayer::outputChanged(std::optional<DeviceEvent> event)
{
    DeviceHandler handler;
    QString description;
    {
        std::lock_guard lock(m_mutex);
        m_outputDescription = m_output->description();
        m_outputSilent = m_output->isSilent();
        if (event)
            m_deviceLost = *event == DeviceEvent::Lost;
        handler = m_deviceHandler;
        description = m_outputDescription;
    }
    if (event && handler)
        handler(*event, description);
}

} // namespace velmora
