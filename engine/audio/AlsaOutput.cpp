#include "engine/audio/AlsaOutput.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioLog.h"
#include "engine/audio/AudioTypes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

namespace velmora {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The one place ALSA error numbers become words.
QString alsaError(int err)
{
    return QString::fromLocal8Bit(snd_strerror(err));
}

// alsa-lib prints its own complaints ("ALSA lib pcm.c:...: Unknown PCM x")
// straight to stderr; they belong in our log, where a failed open is already
// reported once in plain words.
void routeAlsaMessages(const char *file, int line, const char *function, int err, const char *fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(lcAudio, "alsa-lib %s:%d (%s): %s%s%s", file, line, function, text,
            err ? ": " : "", err ? snd_strerror(err) : "");
}

void installAlsaMessageRoute()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&routeAlsaMessages); });
}

} // namespace

AlsaOutput::AlsaOutput(const QString &device) : m_device(device)
{
}

AlsaOutput::~AlsaOutput()
{
    close();
}

QString AlsaOutput::description() const
{
    return QStringLiteral("ALSA device \"%1\"").arg(m_device);
}

void AlsaOutput::open()
{
    if (m_pcm)
        return;
    installAlsaMessageRoute();
    const QByteArray name = m_device.toLocal8Bit();
    auto fail = [&](const char *step, int err) {
        m_pcm.reset();
        m_config.reset();
        throw EngineError(ErrorCode::NoInterface,
                          QStringLiteral("Cannot %1 sound device \"%2\": %3")
                              .arg(QLatin1String(step), m_device, alsaError(err)));
    };

    // A configuration of our own, read now: a sound server started since
    // the process first used ALSA (or restarted as another one) is found.
    snd_config_t *config = nullptr;
    snd_config_update_t *update = nullptr;
    int err = snd_config_update_r(&config, &update, nullptr);
    if (update)
        snd_config_update_free(update);
    m_config.reset(config);
    if (err < 0 || !config)
        fail("read the configuration of", err < 0 ? err : -ENOENT);

    snd_pcm_t *raw = nullptr;
    // Non-blocking: write() waits for room itself, with a limit, so that a
    // stalled sound server can never hold up stop or flush.
    err = snd_pcm_open_lconf(&raw, name.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK, config);
    if (err < 0)
        fail("open", err);
    m_pcm.reset(raw);

    err = snd_pcm_set_params(raw, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, OutputChannels,
                             OutputRate, 1 /* let ALSA resample if the card needs it */, LatencyUs);
    if (err < 0)
        fail("configure", err);

    snd_pcm_hw_params_t *hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    err = snd_pcm_hw_params_current(raw, hw);
    if (err < 0)
        fail("query", err);
    m_canPause = snd_pcm_hw_params_can_pause(hw) == 1;
    snd_pcm_uframes_t bufferFrames = 0;
    err = snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
    if (err < 0)
        fail("query", err);
    m_bufferFrames = bufferFrames;
    qCDebug(lcAudio) << "opened" << description() << "buffer" << m_bufferFrames << "frames, pause"
                     << m_canPause;
}

void AlsaOutput::close()
{
    if (!m_pcm)
        return;
    // Closing drops what is still buffered; nobody waits for a drain.
    snd_pcm_drop(m_pcm.get());
    m_pcm.reset();
    m_config.reset();
}

bool AlsaOutput::recover(int err)
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm)
        return false;
    if (err == -EAGAIN)
        return true;
    if (err == -ESTRPIPE) {
        // Suspended (system sleep): the driver resumes in its own time;
        // wait a little for it, else start over with prepare. Bounded so a
        // stop is never held up for long.
        int res = -EAGAIN;
        for (int i = 0; i < 10 && res == -EAGAIN; ++i) {
            res = snd_pcm_resume(pcm);
            if (res == -EAGAIN)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (res >= 0) {
            qCDebug(lcAudio) << "resumed after suspend";
            return true;
        }
        if (res == -EAGAIN)
            return true; // still waking up; the next call tries again
    } else if (err == -EPIPE) {
        qCDebug(lcAudio) << "underrun on" << m_device;
    } else {
        qCWarning(lcAudio).noquote() << "sound device error:" << alsaError(err);
    }
    const int res = snd_pcm_prepare(pcm);
    if (res < 0) {
        qCWarning(lcAudio).noquote() << "cannot recover sound device" << m_device << ":" << alsaError(res);
        return false;
    }
    return true;
}

int AlsaOutput::write(const std::int16_t *samples, int frames)
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm)
        return -1;
    if (frames <= 0)
        return 0;
    // Held by setPaused(true): whoever writes wants it playing again.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PAUSED)
        setPaused(false);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(MaxWriteWaitMs);
    // Recovery that keeps failing the same way must not spin until the
    // deadline: a few rounds tell a dead device from a hiccup.
    int failures = 0;
    for (;;) {
        const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
        if (avail < 0) {
            if (!recover(int(avail)) || ++failures > 3)
                return -1;
            continue;
        }
        if (avail > 0) {
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples, std::min<snd_pcm_uframes_t>(avail, frames));
            if (n >= 0)
                return int(n);
            if (n == -EAGAIN)
                continue;
            if (!recover(int(n)) || ++failures > 3)
                return -1;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return 0;
        const int res = snd_pcm_wait(pcm, int(left.count()));
        if (res == 0)
            return 0; // still full
        if (res < 0 && (!recover(res) || ++failures > 3))
            return -1;
    }
}

std::int64_t AlsaOutput::bufferedFrames()
{
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(m_pcm.get());
    if (avail < 0)
        return 0;
    return std::max<std::int64_t>(std::int64_t(m_bufferFrames) - avail, 0);
}

std::int64_t AlsaOutput::delayFrames()
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm)
        return 0;
    const snd_pcm_state_t state = snd_pcm_state(pcm);
    // Not started yet (or held): everything in the buffer is still to come.
    // Sound-server plugins refuse snd_pcm_delay() before the first start.
    if (state == SND_PCM_STATE_PREPARED || state == SND_PCM_STATE_PAUSED)
        return bufferedFrames();
    if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_DRAINING) {
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED)
            recover(state == SND_PCM_STATE_XRUN ? -EPIPE : -ESTRPIPE);
        return 0;
    }
    snd_pcm_sframes_t delay = 0;
    const int err = snd_pcm_delay(pcm, &delay);
    if (err == -EPIPE || err == -ESTRPIPE) {
        recover(err);
        return 0;
    }
    // The PulseAudio plugin reads 0 for a while after a start and now and
    // then later, while its buffer is plainly not empty. What is still in
    // the buffer has certainly not been heard: never report less.
    const std::int64_t buffered = bufferedFrames();
    if (err < 0)
        return buffered;
    return std::max<std::int64_t>(delay, buffered);
}

void AlsaOutput::setPaused(bool paused)
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm)
        return;
    const snd_pcm_state_t state = snd_pcm_state(pcm);
    if (paused && state == SND_PCM_STATE_RUNNING) {
        if (m_canPause) {
            const int err = snd_pcm_pause(pcm, 1);
            if (err >= 0)
                return;
            qCDebug(lcAudio).noquote() << "pause refused:" << alsaError(err);
        }
        // No pause in this device: drop its buffer instead. The few
        // milliseconds buffered are lost, which beats playing on.
        discard();
    } else if (!paused && state == SND_PCM_STATE_PAUSED) {
        const int err = snd_pcm_pause(pcm, 0);
        if (err < 0)
            recover(err);
    }
}

void AlsaOutput::discard()
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm)
        return;
    int err = snd_pcm_drop(pcm);
    if (err >= 0)
        err = snd_pcm_prepare(pcm);
    if (err < 0)
        recover(err);
}

void AlsaOutput::startIfWaiting()
{
    snd_pcm_t *pcm = m_pcm.get();
    if (!pcm || snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED)
        return;
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
    // Something is buffered but less than the start threshold: start it.
    if (avail >= 0 && snd_pcm_uframes_t(avail) < m_bufferFrames) {
        const int err = snd_pcm_start(pcm);
        if (err < 0)
            recover(err);
    }
}

} // namespace velmora
