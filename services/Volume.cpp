#include "Volume.h"

#include "Mixer.h"
#include "engine/DvdEngine.h"

#include <QSlider>
#include <exception>

namespace velmora {

void startVolume(QSlider &slider)
{
    MixerInit(0);
    // 65535 percent clamps to the wave control's top, whatever its range.
    MixerSetVolume(WaveVolumeSlot, 65535);
    slider.setMaximum(100);
    slider.setValue(MixerGetVolume(MasterVolumeSlot));
}

void connectVolumeSlider(QSlider &slider)
{
    QObject::connect(&slider, &QSlider::valueChanged, &slider,
                     [](int value) { MixerSetVolume(MasterVolumeSlot, value); });
}

void stepVolume(QSlider &slider, int delta)
{
    slider.setValue(slider.value() + delta);
    // What reaches the mixer is what the slider kept, so the ends stay at 0..100.
    MixerSetVolume(MasterVolumeSlot, slider.value());
}

void setEngineMute(DvdEngine *engine, bool mute)
{
    if (!engine)
        return;
    try {
        engine->setMute(mute);
    } catch (const std::exception &) {
        // No disc, or the engine refused: the buttons follow the engine's
        // real state on the next poll.
    }
}

} // namespace velmora
