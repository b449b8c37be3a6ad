// Allocation-failure sweep: one attempt per failing allocation index, each on a fresh test
// host, first failing that allocation alone and then it and every later one.
#ifndef WQTEST_SWEEP_HPP
#define WQTEST_SWEEP_HPP

#include <gtest/gtest.h>

#include <string>

#include "DxfPublicStorage.h"
#include "FakeHost.hpp"

namespace wqtest {

// `attempt(host, fault)` does one whole job and arms the fault with `host.allocFault =
// fault` at the point from which allocations should fail (so set-up can stay clean).
// After every attempt the host must hold no pool block and have seen no foreign free; the
// sweep ends when an attempt runs with no failure injected.
template <class Attempt>
void sweepAllocations(const std::string& document, Attempt attempt) {
    for (bool persistent : {false, true}) {
        for (int32_t failAt = 0;; ++failAt) {
            SCOPED_TRACE(::testing::Message() << "failing allocation " << failAt
                                              << (persistent ? " and later" : " only"));
            FakeHost host(document);
            attempt(host, Fault{failAt, persistent});
            EXPECT_TRUE(host.poolBlocksLive() == 0 && host.foreignFrees == 0);
            EXPECT_EQ(host.opens, host.closes);
            if (host.allocFault.injected == 0) break;
        }
    }
}

// The sweep for a constructor that takes an optional storage: once making its own, once
// given one that is made before the fault is armed and deleted after the attempt.
// `attempt(host, pool)` runs with the fault armed; pool is null in the first round.
template <class Attempt>
void sweepOwnAndSharedStorage(Attempt attempt) {
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "shared storage" : "own storage");
        sweepAllocations("", [&](FakeHost& host, const Fault& fault) {
            DxfPublicStorage* pool =
                shared ? newDxfPublicStorage(host.services(), StorageExactSizes) : nullptr;
            host.allocFault = fault;
            attempt(host, pool);
            deleteDxfPublicStorage(pool);
        });
    }
}

}  // namespace wqtest

#endif
