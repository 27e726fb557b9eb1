#include "Mixer.h"

#include "MixerAlsa.h"

#include <array>
#include <cfenv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace velmora {

namespace {

struct MixerState {
    std::array<std::unique_ptr<MixerControl>, MixerSlotCount> slots;
    // The open device; kept for the rest of the process once opened.
    std::shared_ptr<alsa_mixer::Device> device;
};

MixerState &state()
{
    static MixerState s;
    return s;
}

MixerControl *slotControl(int slot)
{
    if (slot < 0 || slot >= MixerSlotCount)
        throw std::out_of_range("mixer slot out of range");
    return state().slots[std::size_t(slot)].get();
}

std::int32_t checked(std::int64_t value)
{
    if (value > std::numeric_limits<std::int32_t>::max()
        || value < std::numeric_limits<std::int32_t>::min())
        throw std::overflow_error("mixer value overflow");
    return std::int32_t(value);
}

// Element names of slots 0..6; slots 7..13 are the same elements' switches.
constexpr std::array<const char *, 7> ElementNames{"Master", "Line", "Mic", "Synth",
                                                   "CD",     "PCM",  "Aux"};
// The order in which the slots are looked up.
constexpr std::array<int, 14> LookupOrder{0, 2, 6, 4, 3, 5, 1, 7, 9, 13, 11, 10, 12, 8};

} // namespace

namespace mixer_detail {

std::int32_t percentToRaw(std::int32_t percent, std::int32_t minimum, std::int32_t maximum)
{
    std::int32_t raw = percent;
    if (maximum > 100)
        raw = checked(std::int64_t(percent) * (maximum / 100));
    if (raw > maximum)
        raw = maximum;
    if (raw < minimum)
        raw = minimum;
    return raw;
}

std::int32_t rawToPercent(std::int32_t raw, std::int32_t minimum, std::int32_t maximum)
{
    if (maximum <= 100)
        return raw;
    const std::int32_t hundredfold = checked(std::int64_t(raw) * 100);
    const double value = double(hundredfold) / double(maximum) - double(minimum);
    // nearbyint rounds in the current mode; ties go to even in the default one.
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    if (!(rounded >= double(std::numeric_limits<std::int32_t>::min())
          && rounded <= double(std::numeric_limits<std::int32_t>::max())))
        throw std::overflow_error("mixer value overflow");
    return std::int32_t(rounded);
}

void setSlotControl(int slot, std::unique_ptr<MixerControl> control)
{
    slotControl(slot); // range check
    state().slots[std::size_t(slot)] = std::move(control);
}

void resetMixer()
{
    for (auto &slot : state().slots)
        slot.reset();
    state().device.reset();
}

} // namespace mixer_detail

bool MixerInit(int device)
{
    auto opened = alsa_mixer::open(device);
    if (!opened)
        return false;
    // The old controls belong to the old handle: a second init starts from
    // an empty table.
    mixer_detail::resetMixer();
    state().device = opened;
    for (const int slot : LookupOrder) {
        const char *name = ElementNames[std::size_t(slot % 7)];
        state().slots[std::size_t(slot)] = slot < 7 ? alsa_mixer::volumeControl(opened, name)
                                                    : alsa_mixer::muteControl(opened, name);
    }
    return true;
}

bool MixerSetVolume(int slot, int percent)
{
    MixerControl *control = slotControl(slot);
    const std::int32_t min = control ? control->minimum() : 0;
    const std::int32_t max = control ? control->maximum() : 0;
    const std::int32_t raw = mixer_detail::percentToRaw(percent, min, max);
    return control && control->write(raw);
}

int MixerGetVolume(int slot)
{
    MixerControl *control = slotControl(slot);
    std::int32_t raw = 0;
    if (control && !control->read(raw))
        raw = 0;
    return mixer_detail::rawToPercent(raw, control ? control->minimum() : 0,
                                      control ? control->maximum() : 0);
}

} // namespace velmora
