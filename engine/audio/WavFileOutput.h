#pragma once
// Writes the sound to a 48 kHz 16-bit stereo WAV file (for tests, the probe
// tool and benchmarks).
//
// Unpaced (the default) it takes everything at once and reports no delay, so
// a pipeline runs as fast as it can decode; with Pacing::RealTime it takes
// sound at the pace of a device, like NullOutput, and reports a delay.
// The header's sizes are written on close() (and the destructor), so a file
// is complete only after that.
// Threads: as every AudioOutput (one driving thread at a time).

#include "engine/audio/AudioOutput.h"
#include "engine/audio/RealTimePacer.h"

#include <QFile>
#include <cstdint>

namespace velmora {

class WavFileOutput final : public AudioOutput
{
public:
    enum class Pacing { None, RealTime };

    explicit WavFileOutput(const QString &path, Pacing pacing = Pacing::None);
    ~WavFileOutput() override;

    QString description() const override;
    bool isSilent() const override { return true; }
    // Creates (truncates) the file; throws EngineError(NoInterface) when it
    // cannot be written. Reopening after close() starts a new file.
    void open() override;
    void close() override;
    bool isOpen() const override { return m_file.isOpen(); }
    // -1 when the file cannot be written (disk full...).
    int write(const std::int16_t *samples, int frames) override;
    std::int64_t delayFrames() override;
    void setPaused(bool paused) override;
    void discard() override;

    std::int64_t framesWritten() const { return m_framesWritten; }
    // Keeps at most `frames` frames in the file (0: no limit); sound after
    // them is taken as usual and not written. For a tool asked to play S
    // seconds: unpaced, the player decodes well ahead of the pictures.
    void setFrameLimit(std::int64_t frames) { m_frameLimit = frames; }

    static constexpr int HeaderBytes = 44;

private:
    bool writeHeader();
    bool writeSamples(const std::int16_t *samples, int frames);

    QString m_path;
    Pacing m_pacing;
    QFile m_file;
    std::int64_t m_framesWritten = 0;
    std::int64_t m_frameLimit = 0;
    RealTimePacer m_pacer;
};

} // namespace velmora
