#pragma once
// Shared by the sound tests: tones, DVD-like packets, WAV reading and
// frequency measurement.

#include "engine/audio/AudioTypes.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace audiotest {

using velmora::AudioChunk;
using velmora::NoPts;

// A sine at `amplitude` (0..1 of full scale), frames [first, first+count) of
// an endless tone, so consecutive calls join without a click.
inline std::vector<std::int16_t> sineFrames(double freq, int rate, std::int64_t first, std::int64_t count,
                                            int channels = 2, double amplitude = 0.5)
{
    std::vector<std::int16_t> out(std::size_t(count) * channels);
    for (std::int64_t i = 0; i < count; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2 * std::numbers::pi * freq * double(first + i) / rate);
        for (int c = 0; c < channels; ++c)
            out[std::size_t(i) * channels + c] = std::int16_t(std::lround(v));
    }
    return out;
}

// A 48 kHz stereo chunk of a tone starting at output frame `first`.
inline AudioChunk toneChunk(double freq, std::int64_t first, std::int64_t frames, std::int64_t pts, int serial = 0)
{
    AudioChunk c;
    c.samples = sineFrames(freq, velmora::OutputRate, first, frames);
    c.pts90k = pts;
    c.serial = serial;
    return c;
}

struct Wav
{
    bool ok = false;
    QString error;
    int format = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::vector<std::int16_t> samples; // interleaved
    std::int64_t frames() const { return channels ? std::int64_t(samples.size()) / channels : 0; }
};

// Reads a canonical PCM WAV file (the chunks in any order, unknown ones skipped).
inline Wav readWav(const QString &path)
{
    Wav w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        w.error = f.errorString();
        return w;
    }
    const QByteArray all = f.readAll();
    if (all.size() < 12 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE") {
        w.error = QStringLiteral("not a RIFF/WAVE file");
        return w;
    }
    const auto *p = reinterpret_cast<const uchar *>(all.constData());
    qsizetype at = 12;
    bool haveFmt = false;
    while (at + 8 <= all.size()) {
        const QByteArray id = all.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(p + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= all.size()) {
            w.format = qFromLittleEndian<quint16>(p + body);
            w.channels = qFromLittleEndian<quint16>(p + body + 2);
            w.rate = int(qFromLittleEndian<quint32>(p + body + 4));
            w.bits = qFromLittleEndian<quint16>(p + body + 14);
            haveFmt = true;
        } else if (id == "data") {
            if (body + qsizetype(size) > all.size()) {
                w.error = QStringLiteral("data chunk says %1 bytes, file holds %2").arg(size).arg(all.size() - body);
                return w;
            }
            w.samples.resize(size / 2);
            for (std::size_t i = 0; i < w.samples.size(); ++i)
                w.samples[i] = qFromLittleEndian<qint16>(p + body + 2 * i);
            w.ok = haveFmt;
            if (!haveFmt)
                w.error = QStringLiteral("data before fmt");
            return w;
        }
        at = body + size + (size & 1);
    }
    w.error = QStringLiteral("no data chunk");
    return w;
}

// Frequency of the tone in one channel, from the times of its rising zero
// crossings (interpolated between samples) over the middle of the signal,
// away from start-up transients. 0 when there is no tone.
inline double measureFrequency(const std::vector<std::int16_t> &interleaved, int channels, int channel, int rate)
{
    const std::int64_t frames = std::int64_t(interleaved.size()) / channels;
    const std::int64_t from = frames / 10;
    const std::int64_t to = frames - frames / 10;
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::int64_t i = from + 1; i < to; ++i) {
        const double a = interleaved[std::size_t(i - 1) * channels + channel];
        const double b = interleaved[std::size_t(i) * channels + channel];
        if (a < 0 && b >= 0) {
            const double t = double(i - 1) + (-a) / (b - a);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 3 || last <= first)
        return 0;
    return (crossings - 1) * double(rate) / (last - first);
}

// Root mean square of one channel relative to full scale.
inline double rms(const std::vector<std::int16_t> &interleaved, int channels, int channel)
{
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = channel; i < interleaved.size(); i += channels, ++n)
        sum += double(interleaved[i]) * interleaved[i];
    return n ? std::sqrt(sum / n) / 32768.0 : 0;
}

// Runs ffmpeg quietly; false (and why) when it is missing or fails.
inline bool runFfmpeg(const QStringList &args, QString *why)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (exe.isEmpty()) {
        *why = QStringLiteral("ffmpeg not installed");
        return false;
    }
    QProcess p;
    p.start(exe, QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *why = QStringLiteral("ffmpeg %1 failed: %2").arg(args.join(' '), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

// A 2-second DVD audio elementary stream made by ffmpeg: "ac3" (5.1, 1 kHz,
// 448 kb/s), "mp2" (stereo, 440 Hz, 192 kb/s) or "dts" (5.1, 880 Hz,
// 768 kb/s), all 48 kHz. Empty (and why) when it cannot be made.
inline QByteArray makeDiscStream(const QString &kind, const QString &dir, QString *why)
{
    QStringList args;
    if (kind == "ac3")
        args = {"-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=48000:duration=2", "-ac", "6",
                "-c:a", "ac3", "-b:a", "448k", "-f", "ac3"};
    else if (kind == "mp2")
        args = {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=2", "-ac", "2",
                "-c:a", "mp2", "-b:a", "192k", "-f", "mp2"};
    else
        args = {"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=48000:duration=2", "-ac", "6",
                "-strict", "-2", "-c:a", "dca", "-b:a", "768k", "-f", "dts"};
    const QString path = dir + '/' + kind + ".es";
    if (!runFfmpeg(args + QStringList{path}, why))
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = f.errorString();
        return {};
    }
    return f.readAll();
}

// An elementary stream cut into packets of `packetBytes` the way a DVD cuts
// it: at any byte, frames straddling packets, and each packet's time stamp
// that of the first frame starting in it (none when no frame starts there).
struct EsPacket
{
    QByteArray bytes;
    std::int64_t pts = NoPts;
};

inline std::vector<EsPacket> cutLikeADisc(const QByteArray &es, int packetBytes, int frameBytes, std::int64_t ticksPerFrame,
                                          std::int64_t firstPts)
{
    std::vector<EsPacket> out;
    for (qsizetype at = 0; at < es.size(); at += packetBytes) {
        EsPacket p;
        p.bytes = es.mid(at, packetBytes);
        const qsizetype firstFrame = (at + frameBytes - 1) / frameBytes;
        if (firstFrame * frameBytes < at + p.bytes.size())
            p.pts = firstPts + firstFrame * ticksPerFrame;
        out.push_back(p);
    }
    return out;
}

// True when every frame of a CBR stream is frameBytes long (its sync word
// sits at every multiple), so cutLikeADisc() knows where frames start.
inline bool framesAreConstant(const QByteArray &es, int frameBytes, const QByteArray &sync)
{
    if (frameBytes <= 0 || es.size() % frameBytes != 0)
        return false;
    for (qsizetype at = 0; at < es.size(); at += frameBytes) {
        if (es.mid(at, sync.size()) != sync)
            return false;
    }
    return true;
}

// DVD LPCM: 3 header bytes, then big-endian samples; 24-bit samples come in
// groups of two frames whose top 16 bits lead and whose low bytes follow.
inline QByteArray lpcmPacket(const std::vector<std::int32_t> &samples24, int channels, int bits, int rate)
{
    const int rateCode = rate == 96000 ? 1 : rate == 44100 ? 2 : rate == 32000 ? 3 : 0;
    const int quant = bits == 24 ? 2 : bits == 20 ? 1 : 0;
    QByteArray out;
    out.append(char(0x05)); // frame number; no emphasis, not muted
    out.append(char((quant << 6) | (rateCode << 4) | (channels - 1)));
    out.append(char(0x80)); // dynamic range: unity
    if (bits == 16) {
        for (std::int32_t s : samples24) {
            const std::int32_t v = s >> 8;
            out.append(char((v >> 8) & 0xFF));
            out.append(char(v & 0xFF));
        }
        return out;
    }
    const std::size_t group = 2 * std::size_t(channels);
    for (std::size_t g = 0; g + group <= samples24.size(); g += group) {
        for (std::size_t i = 0; i < group; ++i) {
            out.append(char((samples24[g + i] >> 16) & 0xFF));
            out.append(char((samples24[g + i] >> 8) & 0xFF));
        }
        for (std::size_t i = 0; i < group; ++i)
            out.append(char(samples24[g + i] & 0xFF));
    }
    return out;
}

// A tone as DVD LPCM packets of about 2000 bytes, each stamped with the
// time of its first sample, starting at sample `firstFrame` of the tone.
inline std::vector<EsPacket> lpcmTone(double freq, int rate, int bits, int channels, double seconds, std::int64_t firstPts,
                               std::int64_t firstFrame = 0)
{
    const int framesPerPacket = bits == 16 ? 1000 / channels : 664 / channels; // whole groups of two frames
    const std::int64_t total = std::int64_t(seconds * rate);
    std::vector<EsPacket> packets;
    for (std::int64_t at = 0; at < total; at += framesPerPacket) {
        const std::int64_t n = std::min<std::int64_t>(framesPerPacket, total - at);
        std::vector<std::int32_t> s24(std::size_t(n) * channels);
        for (std::int64_t i = 0; i < n; ++i) {
            const double v = 0.5 * 8388607.0 * std::sin(2 * std::numbers::pi * freq * double(firstFrame + at + i) / rate);
            for (int c = 0; c < channels; ++c)
                s24[std::size_t(i) * channels + c] = std::int32_t(std::lround(v));
        }
        packets.push_back({lpcmPacket(s24, channels, bits, rate), firstPts + at * velmora::TicksPerSecond / rate});
    }
    return packets;
}

} // namespace audiotest
