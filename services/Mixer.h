#pragma once
// The system volume on a 0..100 scale, over ALSA's simple mixer.
//
// MixerInit(device) opens one mixer device (0 is ALSA's "default", 1.. the
// sound cards in the system's order) and fills a table of 21 slots once;
// the handle stays open for the rest of the process.
//   slot 0..6   playback volume of the simple elements
//               0 "Master" (speakers), 1 "Line", 2 "Mic", 3 "Synth", 4 "CD",
//               5 "PCM" (wave output), 6 "Aux"
//   slot 7..13  the playback switches of the same elements, as mute
//               controls (bounds 0..1, 1 = muted)
//   slot 14..20 never filled
// An element the device lacks leaves its slot empty (bounds 0..0, no control).
//
// Scaling (write): if max > 100, raw = percent * (max / 100) with integer
// division (overflow of 32 bits throws std::overflow_error); else raw =
// percent. Then raw is clamped to max, then to min.
// Scaling (read): if max <= 100, raw as it is; else raw * 100 (32-bit, overflow
// throws) / max in double, minus min, rounded to nearest with ties to even.
// A failed read reads raw 0.
//
// A slot outside 0..20 throws std::out_of_range. Set and get never check that
// MixerInit succeeded; on an empty slot set returns false and get returns 0.
// UI thread only.

#include <cstdint>
#include <memory>

namespace velmora {

// Opens device and locates the controls. False when the device does not
// exist or cannot be opened (then nothing changes).
bool MixerInit(int device);
// Writes percent to the slot's control. True when the device took the value.
bool MixerSetVolume(int slot, int percent);
// Reads the slot's control on the 0..100 scale.
int MixerGetVolume(int slot);

inline constexpr int MixerSlotCount = 21;
inline constexpr int MasterVolumeSlot = 0;
inline constexpr int WaveVolumeSlot = 5;

// One control of a slot, as the scaling sees it. The ALSA backend implements
// it; tests put fakes into slots.
class MixerControl
{
public:
    virtual ~MixerControl() = default;
    virtual std::int32_t minimum() const = 0;
    virtual std::int32_t maximum() const = 0;
    // Writes raw; false when the device refused it.
    virtual bool write(std::int32_t raw) = 0;
    // Reads the current raw value; false when the device could not be read.
    virtual bool read(std::int32_t &raw) = 0;
};

namespace mixer_detail {
// Puts control into slot (nullptr empties it). Throws std::out_of_range.
void setSlotControl(int slot, std::unique_ptr<MixerControl> control);
// Empties every slot and closes the device.
void resetMixer();
// The scaling rules above, without a device.
std::int32_t percentToRaw(std::int32_t percent, std::int32_t minimum, std::int32_t maximum);
std::int32_t rawToPercent(std::int32_t raw, std::int32_t minimum, std::int32_t maximum);
} // namespace mixer_detail

} // namespace velmora
