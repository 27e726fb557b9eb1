#pragma once
// The sound device through ALSA (48 kHz S16 stereo, about 100 ms buffered).
//
// Underruns and suspends are recovered inside write()/delayFrames() (one
// recovery routine: underrun -> prepare, suspended -> resume, else prepare);
// only a failure that survives recovery makes write() return -1.
// Threads: as every AudioOutput (one driving thread at a time).

#include "engine/audio/AudioOutput.h"

#include <alsa/asoundlib.h>
#include <memory>

namespace velmora {

class AlsaOutput final : public AudioOutput
{
public:
    // Does not touch the device yet; open() does.
    explicit AlsaOutput(const QString &device);
    ~AlsaOutput() override;

    QString description() const override;
    void open() override;
    void close() override;
    bool isOpen() const override { return m_pcm != nullptr; }
    int write(const std::int16_t *samples, int frames) override;
    std::int64_t delayFrames() override;
    void setPaused(bool paused) override;
    void discard() override;
    void startIfWaiting() override;
    bool canReopen() const override { return true; }

    // Buffer the device is asked for.
    static constexpr unsigned LatencyUs = 100000;

private:
    struct PcmCloser
    {
        void operator()(snd_pcm_t *pcm) const { snd_pcm_close(pcm); }
    };
    struct ConfigDeleter
    {
        void operator()(snd_config_t *config) const { snd_config_delete(config); }
    };

    // Brings the stream back after an underrun or a suspend; false when it
    // cannot. `err` is the negative ALSA error that showed the problem.
    bool recover(int err);
    // Frames in the ALSA buffer not yet taken by the device.
    std::int64_t bufferedFrames();

    QString m_device;
    // The configuration the device was opened with, read afresh at every
    // open(): ALSA's shared one is read once per process, and what "default"
    // means depends on whether a sound server ran at that moment. Outlives
    // m_pcm (declared first, destroyed last).
    std::unique_ptr<snd_config_t, ConfigDeleter> m_config;
    std::unique_ptr<snd_pcm_t, PcmCloser> m_pcm;
    snd_pcm_uframes_t m_bufferFrames = 0;
    bool m_canPause = false; // the device can hold its buffer (snd_pcm_pause)
};

} // namespace velmora
