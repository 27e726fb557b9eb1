#include "engine/audio/WavFileOutput.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioTypes.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <vector>

namespace velmora {

namespace {
constexpr int BytesPerFrame = OutputChannels * 2;
// A real-time file pretends to have a device-sized buffer.
constexpr int PacedBufferMs = 100;

void putLe32(std::array<char, WavFileOutput::HeaderBytes> &h, int at, std::uint32_t v)
{
    qToLittleEndian(v, h.data() + at);
}
void putLe16(std::array<char, WavFileOutput::HeaderBytes> &h, int at, std::uint16_t v)
{
    qToLittleEndian(v, h.data() + at);
}
} // namespace

WavFileOutput::WavFileOutput(const QString &path, Pacing pacing)
    : m_path(path), m_pacing(pacing), m_file(path), m_pacer(std::int64_t(OutputRate) * PacedBufferMs / 1000)
{
}

WavFileOutput::~WavFileOutput()
{
    close();
}

QString WavFileOutput::description() const
{
    return QStringLiteral("WAV file \"%1\"%2")
        .arg(m_path, m_pacing == Pacing::RealTime ? QStringLiteral(" (real time)") : QString());
}

void WavFileOutput::open()
{
    if (m_file.isOpen())
        return;
    m_framesWritten = 0;
    m_pacer.discard();
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !writeHeader()) {
        const QString why = m_file.errorString();
        m_file.close();
        throw EngineError(ErrorCode::NoInterface, QStringLiteral("Cannot write %1: %2").arg(m_path, why));
    }
}

bool WavFileOutput::writeHeader()
{
    // Sizes beyond 4 GiB cannot be said in a WAV header; they are capped
    // (players read such files to their end anyway).
    const std::uint64_t dataBytes64 = std::uint64_t(m_framesWritten) * BytesPerFrame;
    const std::uint32_t dataBytes = dataBytes64 > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : std::uint32_t(dataBytes64);
    std::array<char, HeaderBytes> h{};
    std::copy_n("RIFF", 4, h.begin());
    putLe32(h, 4, 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    putLe32(h, 16, 16);                                   // fmt chunk size
    putLe16(h, 20, 1);                                    // integer PCM
    putLe16(h, 22, OutputChannels);
    putLe32(h, 24, OutputRate);
    putLe32(h, 28, OutputRate * BytesPerFrame);           // bytes per second
    putLe16(h, 32, BytesPerFrame);                        // block align
    putLe16(h, 34, 16);                                   // bits per sample
    std::copy_n("data", 4, h.begin() + 36);
    putLe32(h, 40, dataBytes);
    return m_file.seek(0) && m_file.write(h.data(), h.size()) == HeaderBytes;
}

void WavFileOutput::close()
{
    if (!m_file.isOpen())
        return;
    writeHeader();
    m_file.close();
    m_pacer.discard();
}

int WavFileOutput::write(const std::int16_t *samples, int frames)
{
    if (!m_file.isOpen())
        return -1;
    int taken = frames;
    if (m_pacing == Pacing::RealTime)
        taken = m_pacer.admit(frames, std::chrono::milliseconds(MaxWriteWaitMs));
    if (taken <= 0)
        return 0;
    // Past the frame limit sound is taken (the pacing and the clock go on) and not kept.
    const std::int64_t kept = m_frameLimit > 0 ? std::clamp<std::int64_t>(m_frameLimit - m_framesWritten, 0, taken) : taken;
    if (kept > 0 && !writeSamples(samples, int(kept)))
        return -1;
    m_framesWritten += kept;
    if (m_pacing == Pacing::RealTime)
        m_pacer.written(taken);
    return taken;
}

bool WavFileOutput::writeSamples(const std::int16_t *samples, int taken)
{
    const qint64 bytes = qint64(taken) * BytesPerFrame;
    qint64 done = 0;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        done = m_file.write(reinterpret_cast<const char *>(samples), bytes);
    } else {
        std::vector<std::int16_t> le(std::size_t(taken) * OutputChannels);
        qToLittleEndian<std::int16_t>(samples, qsizetype(le.size()), le.data());
        done = m_file.write(reinterpret_cast<const char *>(le.data()), bytes);
    }
    return done == bytes;
}

std::int64_t WavFileOutput::delayFrames()
{
    return m_pacing == Pacing::RealTime ? m_pacer.delayFrames() : 0;
}

void WavFileOutput::setPaused(bool paused)
{
    m_pacer.setPaused(paused);
}

void WavFileOutput::discard()
{
    // What is in the file stays; only the pretend device forgets.
    m_pacer.discard();
}

} // namespace velmora
