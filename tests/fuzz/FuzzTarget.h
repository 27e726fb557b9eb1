#pragma once
// The one function every fuzz target defines.
//
// fuzzOne() feeds the bytes to the code under test and returns 0. It must
// not keep state between calls (the replay runner and libFuzzer call it
// thousands of times in one process) and must not print. A crash, a
// sanitizer report or a hang is the finding.

#include <cstddef>
#include <cstdint>

int fuzzOne(const std::uint8_t *data, std::size_t size);
