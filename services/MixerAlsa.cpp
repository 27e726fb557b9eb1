#include "MixerAlsa.h"

#include <QByteArray>
#include <algorithm>
#include <limits>

#include <alsa/asoundlib.h>

namespace velmora::alsa_mixer {

namespace {

struct MixerCloser {
    void operator()(snd_mixer_t *mixer) const { snd_mixer_close(mixer); }
};
using MixerHandle = std::unique_ptr<snd_mixer_t, MixerCloser>;

std::int32_t toInt32(long value)
{
    return std::int32_t(std::clamp<long>(value, std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max()));
}

// The card number of the n-th card (n from 1), or -1.
int nthCard(int n)
{
    int card = -1;
    for (int i = 0; i < n; ++i) {
        if (snd_card_next(&card) < 0 || card < 0)
            return -1;
    }
    return card;
}

} // namespace

class Device
{
public:
    explicit Device(MixerHandle handle) : m_handle(std::move(handle)) {}

    snd_mixer_elem_t *element(const char *name) const
    {
        snd_mixer_selem_id_t *id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_index(id, 0);
        snd_mixer_selem_id_set_name(id, name);
        return snd_mixer_find_selem(m_handle.get(), id);
    }

    // The simple mixer caches values: take in what other programs changed
    // before reading.
    void refresh() const { snd_mixer_handle_events(m_handle.get()); }

private:
    MixerHandle m_handle;
};

namespace {

class VolumeControl final : public MixerControl
{
public:
    VolumeControl(std::shared_ptr<Device> device, snd_mixer_elem_t *element, long min, long max)
        : m_device(std::move(device)), m_element(element), m_min(toInt32(min)), m_max(toInt32(max))
    {
    }
    std::int32_t minimum() const override { return m_min; }
    std::int32_t maximum() const override { return m_max; }
    bool write(std::int32_t raw) override
    {
        return snd_mixer_selem_set_playback_volume_all(m_element, raw) == 0;
    }
    bool read(std::int32_t &raw) override
    {
        m_device->refresh();
        long value = 0;
        if (snd_mixer_selem_get_playback_volume(m_element, SND_MIXER_SCHN_FRONT_LEFT, &value) != 0)
            return false;
        raw = toInt32(value);
        return true;
    }

private:
    std::shared_ptr<Device> m_device;
    snd_mixer_elem_t *m_element; // owned by the device's handle
    std::int32_t m_min;
    std::int32_t m_max;
};

// A mute control reads 1 when muted; ALSA's playback switch reads 1 when
// the sound is on.
class MuteControl final : public MixerControl
{
public:
    MuteControl(std::shared_ptr<Device> device, snd_mixer_elem_t *element)
        : m_device(std::move(device)), m_element(element)
    {
    }
    std::int32_t minimum() const override { return 0; }
    std::int32_t maximum() const override { return 1; }
    bool write(std::int32_t raw) override
    {
        return snd_mixer_selem_set_playback_switch_all(m_element, raw ? 0 : 1) == 0;
    }
    bool read(std::int32_t &raw) override
    {
        m_device->refresh();
        int on = 1;
        if (snd_mixer_selem_get_playback_switch(m_element, SND_MIXER_SCHN_FRONT_LEFT, &on) != 0)
            return false;
        raw = on ? 0 : 1;
        return true;
    }

private:
    std::shared_ptr<Device> m_device;
    snd_mixer_elem_t *m_element;
};

} // namespace

std::shared_ptr<Device> open(int index)
{
    if (index < 0)
        return nullptr;
    QByteArray name("default");
    if (index > 0) {
        const int card = nthCard(index);
        if (card < 0)
            return nullptr;
        name = "hw:" + QByteArray::number(card);
    }

    snd_mixer_t *raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0)
        return nullptr;
    MixerHandle handle(raw);
    if (snd_mixer_attach(raw, name.constData()) < 0
        || snd_mixer_selem_register(raw, nullptr, nullptr) < 0 || snd_mixer_load(raw) < 0)
        return nullptr;
    return std::make_shared<Device>(std::move(handle));
}

std::unique_ptr<MixerControl> volumeControl(const std::shared_ptr<Device> &device, const char *name)
{
    snd_mixer_elem_t *element = device->element(name);
    if (!element || !snd_mixer_selem_has_playback_volume(element))
        return nullptr;
    long min = 0;
    long max = 0;
    if (snd_mixer_selem_get_playback_volume_range(element, &min, &max) != 0)
        return nullptr;
    return std::make_unique<VolumeControl>(device, element, min, max);
}

std::unique_ptr<MixerControl> muteControl(const std::shared_ptr<Device> &device, const char *name)
{
    snd_mixer_elem_t *element = device->element(name);
    if (!element || !snd_mixer_selem_has_playback_switch(element))
        return nullptr;
    return std::make_unique<MuteControl>(device, element);
}

} // namespace velmora::alsa_mixer
