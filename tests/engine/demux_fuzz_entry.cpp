// The demuxer's fuzz entry: libFuzzer calls it with arbitrary bytes; the
// replay test (test_ps_demuxer) calls it with the seed corpus and mutations.
#include "engine/demux/PsDemuxer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace velmora::demux;
    const PsDemuxer demuxer;
    std::size_t total = 0;
    demuxer.demux(data, size, [&](const EsPacket &pkt) {
        // Touch every byte handed out, so a sanitizer sees any read past the input.
        for (std::size_t i = 0; i < pkt.size; ++i)
            total += pkt.data[i];
        if (pkt.data < data || pkt.data + pkt.size > data + size)
            __builtin_trap();
    });
    return total == 0xFFFFFFFF ? 1 : 0;
}
