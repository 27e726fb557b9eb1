#pragma once
// Internal: the ALSA side of the mixer (Mixer.h holds the contract).

#include "Mixer.h"

#include <memory>

namespace velmora::alsa_mixer {

class Device;

// Opens mixer device index (0: "default", n: the n-th sound card). nullptr
// when there is no such device or it cannot be opened.
std::shared_ptr<Device> open(int index);

// The playback volume of element name on device, or nullptr when the element
// has none. The control keeps the device open.
std::unique_ptr<MixerControl> volumeControl(const std::shared_ptr<Device> &device, const char *name);
// The playback switch of element name as a mute control (1 = muted).
std::unique_ptr<MixerControl> muteControl(const std::shared_ptr<Device> &device, const char *name);

} // namespace velmora::alsa_mixer
