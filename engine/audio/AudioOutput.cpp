#include "engine/audio/AudioOutput.h"

#include "engine/EngineError.h"
#include "engine/audio/AlsaOutput.h"
#include "engine/audio/AudioLog.h"
#include "engine/audio/NullOutput.h"

#include <QByteArray>
#include <atomic>

namespace velmora {

QString defaultAlsaDevice()
{
    const QByteArray env = qgetenv("VELMORA_AUDIO_DEVICE");
    return env.isEmpty() ? QStringLiteral("default") : QString::fromLocal8Bit(env);
}

std::unique_ptr<AudioOutput> openAudioOutput(AudioOutputKind kind, const QString &alsaDevice)
{
    if (kind == AudioOutputKind::Silent) {
        auto out = std::make_unique<NullOutput>();
        out->open();
        return out;
    }
    const QString device = alsaDevice.isEmpty() ? defaultAlsaDevice() : alsaDevice;
    auto alsa = std::make_unique<AlsaOutput>(device);
    try {
        alsa->open();
        return alsa;
    } catch (const EngineError &e) {
        if (kind == AudioOutputKind::AlsaOnly)
            throw;
        // A machine without sound still plays the picture. Said once: every
        // later play would only repeat it.
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            qCWarning(lcAudio).noquote() << e.message() << "- playing without sound, on the system clock";
        auto out = std::make_unique<NullOutput>(e.message());
        out->open();
        return out;
    }
}

std::unique_ptr<AudioOutput> soundDeviceOutput(const QString &alsaDevice)
{
    return std::make_unique<AlsaOutput>(alsaDevice.isEmpty() ? defaultAlsaDevice() : alsaDevice);
}

} // namespace velmora
