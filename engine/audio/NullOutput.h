#pragma once
// Silence paced by the system clock: the fallback when there is no sound
// device. Playback, and the audio clock the picture follows, go on exactly
// as with a device; nothing is heard.
// Threads: as every AudioOutput (one driving thread at a time).

#include "engine/audio/AudioOutput.h"
#include "engine/audio/RealTimePacer.h"

namespace velmora {

class NullOutput final : public AudioOutput
{
public:
    // reason: why there is no sound, for description() ("" when asked for).
    explicit NullOutput(const QString &reason = {});

    QString description() const override;
    bool isSilent() const override { return true; }
    void open() override { m_open = true; }
    void close() override;
    bool isOpen() const override { return m_open; }
    int write(const std::int16_t *samples, int frames) override;
    std::int64_t delayFrames() override { return m_pacer.delayFrames(); }
    void setPaused(bool paused) override { m_pacer.setPaused(paused); }
    void discard() override { m_pacer.discard(); }

    // Buffer it pretends to have, like the device's.
    static constexpr int BufferMs = 100;

private:
    QString m_reason;
    bool m_open = false;
    RealTimePacer m_pacer;
};

} // namespace velmora
