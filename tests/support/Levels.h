// Runs a check once per instruction-set level this processor has (SSE2, AVX2, AVX-512), with the
// library's hot loops held to that level, so that every path is compared with the plain loops.
#pragma once

#include <gtest/gtest.h>

#include "src/kernels/Cpu.h"

namespace rcnet::test {

template <typename Check>
void ForEachLevel(Check check) {
    const int detected = static_cast<int>(cpu::Detected());
    for (int level = 0; level <= detected; ++level) {
        const cpu::Level cap = static_cast<cpu::Level>(level);
        const cpu::Level previous = cpu::Limit(cap);
        SCOPED_TRACE(cpu::Name(cap));
        check(cap);
        cpu::Limit(previous);
    }
}

}  // namespace rcnet::test
