// libFuzzer's entry point, forwarding to the target's fuzzOne().
#include "tests/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return fuzzOne(data, size);
}
