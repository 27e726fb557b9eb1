#pragma once
// Where decoded sound goes: one interface, one class per backend.
//
//   AlsaOutput     the sound device, through ALSA (AlsaOutput.h)
//   WavFileOutput  a 48 kHz 16-bit stereo WAV file, for tests and tools
//   NullOutput     silence on the system clock, when there is no device
//
// Every output takes the one shape of AudioTypes.h: 48 kHz S16 interleaved
// stereo. Outputs pace the writer (write() accepts only what the device has
// room for), which is what makes the audio clock run at real time.
//
// Threads: an output is created on any thread and then driven by exactly one
// thread at a time (the AudioPlayer's audio thread while it plays); no
// method is safe to call concurrently with another. description() and
// isSilent() are constant and may be read from anywhere.

#include <QString>
#include <cstdint>
#include <memory>

namespace velmora {

class AudioOutput
{
public:
    virtual ~AudioOutput() = default;

    // For the log and the tools: "ALSA device \"default\"", "WAV file ...".
    virtual QString description() const = 0;
    // True when nothing is heard (the silent fallback, a file).
    virtual bool isSilent() const { return false; }

    // Claims the device (or creates the file). Does nothing when open.
    // Throws EngineError(ErrorCode::NoInterface) saying why it cannot.
    virtual void open() = 0;
    // Releases the device; written sound not yet played is dropped. Safe
    // when closed. The destructor closes too.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Offers `frames` frames (interleaved, 2 values each) and returns how
    // many were taken: all of them, some, or 0 when the device stayed full
    // for about MaxWriteWaitMs. Never blocks much longer, so the caller can
    // react to stop and flush promptly. Returns -1 when the device failed
    // and could not be recovered; the output is then unusable.
    virtual int write(const std::int16_t *samples, int frames) = 0;
    // Frames taken by write() and not yet heard. Never negative.
    virtual std::int64_t delayFrames() = 0;
    // Holds (true) or resumes (false) playback, keeping what was written.
    // While held, delayFrames() stays put.
    virtual void setPaused(bool paused) = 0;
    // Throws away everything written and not yet heard; delayFrames() is 0
    // afterwards. Used on flush and stop.
    virtual void discard() = 0;
    // Makes sure what was written gets played even if it is less than the
    // device waits for before it starts (the end of a stream, a still).
    virtual void startIfWaiting() {}
    // True for a device that may come back after it failed or could not be
    // opened (a sound server restarted, a device plugged in again, a device
    // another program held): open() may be tried again after close(). False
    // for a file, which opening again would start afresh.
    virtual bool canReopen() const { return false; }

    // The longest write() waits for room.
    static constexpr int MaxWriteWaitMs = 20;
};

enum class AudioOutputKind {
    // The sound device: ALSA's "default", or the device the environment
    // variable VELMORA_AUDIO_DEVICE names. When it cannot be opened, a
    // NullOutput is returned instead and a warning is logged (once per
    // process), so playback goes on without sound.
    Automatic,
    // Exactly the ALSA device given (empty: as for Automatic); throws
    // EngineError(ErrorCode::NoInterface) when it cannot be opened.
    AlsaOnly,
    // Silence on the system clock.
    Silent,
};

// Creates and opens an output of that kind. The result is open.
std::unique_ptr<AudioOutput> openAudioOutput(AudioOutputKind kind = AudioOutputKind::Automatic,
                                             const QString &alsaDevice = {});

// The sound device Automatic would open (empty: defaultAlsaDevice()), not
// opened yet. Meant for an AudioPlayer: it claims the device at start(),
// and when the device is missing, busy or fails later, it plays on silently
// and claims the device again as soon as it can (AudioPlayer::DeviceEvent).
std::unique_ptr<AudioOutput> soundDeviceOutput(const QString &alsaDevice = {});

// The ALSA device name Automatic uses: VELMORA_AUDIO_DEVICE when set and not
// empty, else "default".
QString defaultAlsaDevice();

} // namespace velmora
