// The program-stream demuxer: what it routes where, and that no input can
// make it read outside its buffer (seeded from the authored discs, mutated).
#include "engine/demux/PsDemuxer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

using namespace velmora::demux;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putTimestamp(Bytes &b, unsigned prefix, std::int64_t ts)
{
    b.push_back(std::uint8_t(prefix << 4 | ((ts >> 29) & 0x0E) | 1));
    b.push_back(std::uint8_t(ts >> 22));
    b.push_back(std::uint8_t(((ts >> 14) & 0xFE) | 1));
    b.push_back(std::uint8_t(ts >> 7));
    b.push_back(std::uint8_t(((ts << 1) & 0xFE) | 1));
}

Bytes packHeader()
{
    // MPEG-2 pack header with 2 stuffing bytes.
    return Bytes{0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF};
}

// A PES packet with an MPEG-2 header, optional PTS/DTS, and payload.
Bytes pes(std::uint8_t streamId, const Bytes &payload, std::int64_t pts = -1, std::int64_t dts = -1)
{
    Bytes header;
    if (pts >= 0)
        putTimestamp(header, dts >= 0 ? 3 : 2, pts);
    if (dts >= 0)
        putTimestamp(header, 1, dts);
    const std::size_t length = 3 + header.size() + payload.size();
    Bytes b{0, 0, 1, streamId, std::uint8_t(length >> 8), std::uint8_t(length)};
    b.push_back(0x81);
    b.push_back(pts >= 0 ? (dts >= 0 ? 0xC0 : 0x80) : 0x00);
    b.push_back(std::uint8_t(header.size()));
    b.insert(b.end(), header.begin(), header.end());
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Seen
{
    StreamType type;
    int id;
    std::int64_t pts;
    std::int64_t dts;
    Bytes data;
};

std::vector<Seen> run(const Bytes &input, DemuxStats *stats = nullptr)
{
    std::vector<Seen> seen;
    const DemuxStats s = PsDemuxer().demux(input.data(), input.size(), [&](const EsPacket &p) {
        seen.push_back(Seen{p.type, p.id, p.pts, p.dts, Bytes(p.data, p.data + p.size)});
    });
    if (stats)
        *stats = s;
    return seen;
}

} // namespace

class TestPsDemuxer : public QObject
{
    Q_OBJECT
private slots:
    void routesEveryDvdStream_data()
    {
        QTest::addColumn<int>("streamId");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray body("\x11\x22\x33\x44\x55", 5);
        QTest::newRow("video") << 0xE0 << body << int(StreamType::Video) << 0 << body;
        QTest::newRow("mpeg audio 3") << 0xC3 << body << int(StreamType::MpegAudio) << 3 << body;
        // Private stream 1: the substream byte, and for audio the 3 bytes after it, go.
        QTest::newRow("subpicture 5") << 0xBD << QByteArray("\x25", 1) + body << int(StreamType::Subpicture) << 5 << body;
        QTest::newRow("ac3 1") << 0xBD << QByteArray("\x81\x01\x00\x01", 4) + body << int(StreamType::Ac3) << 1 << body;
        QTest::newRow("dts 0") << 0xBD << QByteArray("\x88\x01\x00\x01", 4) + body << int(StreamType::Dts) << 0 << body;
        // LPCM keeps its 3 info bytes: the decoder reads the format from them.
        QTest::newRow("lpcm 2") << 0xBD << QByteArray("\xA2\x01\x00\x04\x00\x01\x80", 7) + body << int(StreamType::Lpcm)
                                << 2 << QByteArray("\x00\x01\x80", 3) + body;
    }
    void routesEveryDvdStream()
    {
        QFETCH(int, streamId);
        QFETCH(QByteArray, payload);
        QFETCH(int, type);
        QFETCH(int, id);
        QFETCH(QByteArray, expected);
        const Bytes p(payload.begin(), payload.end());
        const auto seen = run(concat({packHeader(), pes(std::uint8_t(streamId), p, 123456789)}));
        QCOMPARE(seen.size(), std::size_t(1));
        QCOMPARE(int(seen[0].type), type);
        QCOMPARE(seen[0].id, id);
        QCOMPARE(seen[0].pts, std::int64_t(123456789));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(seen[0].data.data()), int(seen[0].data.size())), expected);
    }

    // The DVD audio header's first-access-unit pointer (counted from its own
    // last byte; 0 = no frame starts here) becomes an offset into the data.
    void audioFrameOffsets_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<qint64>("offset");
        const QByteArray body(10, '\x55');
        QTest::newRow("ac3 frame at once") << QByteArray("\x80\x01\x00\x01", 4) + body << qint64(0);
        QTest::newRow("ac3 frame after 6 bytes") << QByteArray("\x80\x01\x00\x07", 4) + body << qint64(6);
        QTest::newRow("dts no frame starts") << QByteArray("\x88\x00\x00\x00", 4) + body << qint64(body.size());
        QTest::newRow("pointer past the end") << QByteArray("\x80\x01\x00\x20", 4) + body << qint64(NoFrameOffset);
        QTest::newRow("lpcm has none") << QByteArray("\xA0\x01\x00\x04\x00\x01\x80", 7) + body << qint64(NoFrameOffset);
        QTest::newRow("mpeg audio has none") << QByteArray() + body << qint64(NoFrameOffset);
    }
    void audioFrameOffsets()
    {
        QFETCH(QByteArray, payload);
        QFETCH(qint64, offset);
        const std::uint8_t id = quint8(payload.isEmpty() ? 0 : payload[0]) >= 0x80 ? 0xBD : 0xC0;
        const Bytes p(payload.begin(), payload.end());
        std::int64_t seen = -100;
        const Bytes input = concat({packHeader(), pes(id, p, 1)});
        PsDemuxer().demux(input.data(), input.size(), [&](const EsPacket &pkt) { seen = pkt.frameOffset; });
        QCOMPARE(qint64(seen), offset);
    }

    // On the authored disc every AC-3 frame pointer lands on a sync word.
    void discFramePointersFindFrames()
    {
        QFile vob(QStringLiteral(VELMORA_DISC_DIR "/A/VIDEO_TS/VTS_01_1.VOB"));
        if (!vob.open(QIODevice::ReadOnly))
            QSKIP("authored discs missing");
        const QByteArray bytes = vob.readAll();
        int framed = 0;
        int onSync = 0;
        PsDemuxer().demux(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()),
                          [&](const EsPacket &p) {
                              if (p.type != StreamType::Ac3 || p.frameOffset < 0 || p.frameOffset + 1 >= std::int64_t(p.size))
                                  return;
                              ++framed;
                              onSync += p.data[p.frameOffset] == 0x0B && p.data[p.frameOffset + 1] == 0x77;
                          });
        QVERIFY(framed > 100);
        QCOMPARE(onSync, framed);
    }

    // Packets a disc's copy protection scrambled are counted, never handed on.
    void scrambledPacketsAreHeldBack()
    {
        Bytes scrambledVideo = pes(0xE0, {1, 2, 3}, 90000);
        scrambledVideo[6] |= 0x10; // PES_scrambling_control 01
        Bytes scrambledAudio = pes(0xBD, {0x80, 1, 0, 1, 0x0B, 0x77}, 90000);
        scrambledAudio[6] |= 0x30;
        DemuxStats stats;
        const auto seen = run(concat({packHeader(), scrambledVideo, scrambledAudio, pes(0xC0, {9, 9}, 5)}), &stats);
        QCOMPARE(stats.scrambled, 2);
        QCOMPARE(seen.size(), std::size_t(1));
        QCOMPARE(seen[0].type, StreamType::MpegAudio);
    }

    void readsFullRangeTimestampsAndDts()
    {
        const std::int64_t pts = (std::int64_t(1) << 33) - 1; // largest 33-bit value
        const auto seen = run(concat({packHeader(), pes(0xE0, {1, 2, 3}, pts, 90000)}));
        QCOMPARE(seen.size(), std::size_t(1));
        QCOMPARE(seen[0].pts, pts);
        QCOMPARE(seen[0].dts, std::int64_t(90000));
        const auto none = run(concat({packHeader(), pes(0xE0, {1, 2, 3})}));
        QCOMPARE(none[0].pts, NoTimestamp);
    }

    void navPacketsAndSkippedStreams()
    {
        Bytes nav{0, 0, 1, 0xBF, 0, 4, 0x00, 0xAA, 0xBB, 0xCC};
        Bytes dsi{0, 0, 1, 0xBF, 0, 3, 0x01, 0xDD, 0xEE};
        Bytes padding{0, 0, 1, 0xBE, 0, 2, 0xFF, 0xFF};
        const Bytes otherVideo = pes(0xE1, {9});
        const Bytes unknownSub = pes(0xBD, {0xFF, 1, 2});
        DemuxStats stats;
        const auto seen = run(concat({packHeader(), nav, dsi, padding, otherVideo, unknownSub}), &stats);
        QCOMPARE(seen.size(), std::size_t(2));
        QCOMPARE(seen[0].type, StreamType::NavPci);
        QCOMPARE(seen[0].data, (Bytes{0xAA, 0xBB, 0xCC}));
        QCOMPARE(seen[1].type, StreamType::NavDsi);
        QCOMPARE(stats.skipped, 3);
        QCOMPARE(stats.damaged, 0);
    }

    void damagedInputIsSkippedNotTrusted_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("packets");
        const Bytes good = pes(0xE0, {1, 2, 3, 4}, 1000);
        Bytes truncated = good;
        truncated.resize(truncated.size() - 2); // length field promises more than there is
        Bytes headerTooLong = good;
        headerTooLong[8] = 200; // header data length past the packet's end
        Bytes shortAudio = pes(0xBD, {0x80, 1}); // AC-3 without its 4-byte header
        const auto qb = [](const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size())); };
        QTest::newRow("garbage then packet") << qb(concat({Bytes{7, 7, 0, 0, 0, 1}, packHeader(), good})) << 1;
        QTest::newRow("truncated packet") << qb(concat({packHeader(), truncated})) << 0;
        QTest::newRow("header past end") << qb(concat({packHeader(), headerTooLong, good})) << 1;
        QTest::newRow("short private audio") << qb(concat({packHeader(), shortAudio, good})) << 1;
        QTest::newRow("lone start code") << qb(Bytes{0, 0, 1}) << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void damagedInputIsSkippedNotTrusted()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, packets);
        const Bytes bytes(input.begin(), input.end());
        QCOMPARE(int(run(bytes).size()), packets);
    }

    // Replays the fuzz entry over sectors of the authored discs and thousands
    // of deterministic mutations of them (flips, cuts, splices).
    void survivesMutatedDiscSectors()
    {
        std::vector<Bytes> seeds;
        const QString discs = QStringLiteral(VELMORA_DISC_DIR);
        QDirIterator it(discs, {QStringLiteral("*.VOB")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext() && seeds.size() < 400) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            // Sectors spread over the file: NAV packs, video, audio, subpictures.
            const qint64 sectors = f.size() / 2048;
            for (qint64 s = 0; s < sectors && seeds.size() < 400; s += std::max<qint64>(1, sectors / 60)) {
                f.seek(s * 2048);
                const QByteArray sector = f.read(2048);
                seeds.emplace_back(sector.begin(), sector.end());
            }
        }
        seeds.push_back(concat({packHeader(), pes(0xBD, {0xA0, 1, 0, 4, 0, 1, 0x80, 1, 2}, 5)}));
        seeds.push_back(concat({packHeader(), pes(0xC0, {0xFF, 0xFD}, 7, 3)}));

        QRandomGenerator rng(20261208);
        int runs = 0;
        for (const Bytes &seed : seeds) {
            QCOMPARE(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0);
            for (int m = 0; m < 25; ++m) {
                Bytes b = seed;
                switch (m % 5) {
                case 0: // flip a few bytes
                    for (int k = 0; k < 8 && !b.empty(); ++k)
                        b[rng.bounded(int(b.size()))] = std::uint8_t(rng.generate());
                    break;
                case 1: // cut anywhere
                    b.resize(b.empty() ? 0 : rng.bounded(int(b.size())));
                    break;
                case 2: // lengths and header sizes set large
                    for (std::size_t i = 0; i + 8 < b.size(); ++i)
                        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && rng.bounded(2))
                            b[i + 4] = b[i + 8] = 0xFF;
                    break;
                case 3: // splice two seeds
                    if (!seeds.empty()) {
                        const Bytes &other = seeds[rng.bounded(int(seeds.size()))];
                        b.resize(b.size() / 2);
                        b.insert(b.end(), other.begin() + other.size() / 3, other.end());
                    }
                    break;
                default: // random bytes behind a valid pack header
                    for (std::size_t i = 16; i < b.size(); ++i)
                        b[i] = std::uint8_t(rng.generate());
                    break;
                }
                // An exact-size heap copy, so an overread leaves the allocation.
                std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[b.size() ? b.size() : 1]);
                std::copy(b.begin(), b.end(), exact.get());
                QCOMPARE(LLVMFuzzerTestOneInput(exact.get(), b.size()), 0);
                ++runs;
            }
        }
        QVERIFY(runs >= 50);
        if (seeds.size() < 10)
            qWarning("few disc sectors found under %s: authored discs missing?", qPrintable(discs));
    }
};

QTEST_GUILESS_MAIN(TestPsDemuxer)
#include "test_ps_demuxer.moc"
