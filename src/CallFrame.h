// The frame every export runs in: no exception ever reaches the host, the network of an id is looked up
// and kept alive for the whole call, the precondition is checked, then one operation runs.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>

#include "src/NetManager.h"
#include "src/Report.h"
#include "src/Solver/WorkerPool.h"

namespace rcnet::frame {

constexpr char kReportSource[] = "Exports";

// Runs body (returning bool) and turns its result into 1 or 0; any exception becomes a report and 0.
template <typename Body>
int Guarded(Body&& body) noexcept {
    const CallReportsScope reports;
    // Where helper threads hold the library loaded (Windows), they end before the host gets control.
    struct EndWorkers {
        ~EndWorkers() { pool::EndOfCall(); }
    } endWorkers;
    try {
        return body() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        ReportFailure("out of memory", kReportSource, __LINE__, RCNET_REPORT_OUT_OF_MEMORY);
    } catch (const std::length_error&) {  // a container asked for more than the address space holds
        ReportFailure("out of memory", kReportSource, __LINE__, RCNET_REPORT_OUT_OF_MEMORY);
    } catch (...) {
        ReportFailure("unexpected exception", kReportSource, __LINE__, RCNET_REPORT_INTERNAL);
    }
    return 0;
}

// The frame for exports whose only precondition is that the id is registered. op(Net&) returns bool.
template <typename Op>
int WithNet(int32_t id, Op&& op) noexcept {
    return Guarded([&]() -> bool {
        // Held and locked until the frame returns: an unregister from another thread cannot free the
        // network under this call, and another call on it waits.
        const NetInUse net = NetManager::Instance().Use(id);
        RC_REQUIRE_AS(RCNET_REPORT_UNKNOWN_ID, net, false);
        return op(*net);
    });
}

// The frame for exports that pass vectors: the id must be registered and the host's sizes must be the
// network's, compared as unsigned 32-bit values.
template <typename Op>
int WithSizedNet(int32_t id, uint32_t inSize, uint32_t outSize, Op&& op) noexcept {
    return Guarded([&]() -> bool {
        const NetInUse net = NetManager::Instance().Use(id);
        RC_REQUIRE_AS(net ? RCNET_REPORT_SIZE : RCNET_REPORT_UNKNOWN_ID,
                      net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize),
                      false);
        return op(*net);
    });
}

}  // namespace rcnet::frame
