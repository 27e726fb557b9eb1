#pragma once
// The code of the EngineError a call throws, 0 when it throws none: a refusal
// a test expects in one line, and QCOMPARE prints both codes when it differs.
// Any other exception goes on to the test framework.

#include "engine/EngineError.h"

#include <cstdint>

namespace velmora::testing {

template <class Call>
std::int32_t errorCodeOf(Call &&call)
{
    try {
        call();
    } catch (const EngineError &e) {
        return e.code();
    }
    return 0;
}

} // namespace velmora::testing
