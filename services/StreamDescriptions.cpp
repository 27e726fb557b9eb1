#include "StreamDescriptions.h"

#include "engine/DvdEngine.h"

#include <QLabel>
#include <cstdint>
#include <exception>
#include <limits>

namespace velmora {

namespace {

// Shared walk over one kind of stream. The stream counter is 16 bits wide,
// so a count whose last index does not fit ends the routine before any
// caption is written.
template <class Count, class Enabled, class Language>
void describe(QLabel &label, const QString &prefix, Count count, Enabled enabled,
              Language language)
{
    try {
        const std::int64_t last = std::int64_t(count()) - 1;
        if (last > std::numeric_limits<std::int16_t>::max()
            || last < std::numeric_limits<std::int16_t>::min())
            return;
        for (std::int64_t stream = 0; stream <= last; ++stream) {
            if (enabled(int(stream)))
                label.setText(prefix + language(int(stream)));
        }
    } catch (const std::exception &) {
        // The engine not ready, or a stream it cannot describe: keep what
        // is already on the label.
    }
}

} // namespace

void DescribeSubtitle(DvdEngine &engine, QLabel &label)
{
    describe(
        label, QStringLiteral("Subtitle :"), [&] { return engine.SubpictureStreamCount(); },
        [&](int n) { return engine.SubpictureStreamEnabled(n); },
        [&](int n) { return engine.GetSubpictureLanguage(n); });
}

void DescribeAudio(DvdEngine &engine, QLabel &label)
{
    describe(
        label, QStringLiteral("Audio Language"), [&] { return engine.AudioStreamCount(); },
        [&](int n) { return engine.AudioStreamEnabled(n); },
        [&](int n) { return engine.GetAudioLanguage(n); });
}

} // namespace velmora
