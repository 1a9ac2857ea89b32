#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/add_in_flight.hpp"

namespace {

// Adds run in the order started, one at a time, whatever each one takes.
TEST(AddInFlight, AddsKeepTheirOrder) {
    std::vector<int> done;
    quend::AddInFlight run;
    for (int k = 0; k < 6; ++k)
        run.start([&done, k] {
            if (k % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            done.push_back(k);
        });
    run.wait();
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

// An add's error is thrown once, by the next start (whose add then never
// runs) or wait.
TEST(AddInFlight, AnErrorStopsTheNextAdd) {
    bool later_ran = false;
    quend::AddInFlight run;
    run.start([] { throw std::invalid_argument("bad block"); });
    EXPECT_THROW(run.start([&] { later_ran = true; }), std::invalid_argument);
    run.wait();
    EXPECT_FALSE(later_ran);
    run.start([] { throw std::invalid_argument("bad block"); });
    EXPECT_THROW(run.wait(), std::invalid_argument);
    EXPECT_NO_THROW(run.wait());
}

// A caller that fails between blocks: the add still running ends before
// the buffers it reads are released.
TEST(AddInFlight, DestructionWaitsForTheAddInFlight) {
    auto buffer = std::make_unique<std::vector<int>>(1000, 1);
    std::atomic<long> sum{0};
    {
        quend::AddInFlight run;
        const std::vector<int>* b = buffer.get();
        run.start([b, &sum] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            long s = 0;
            for (int v : *b) s += v;
            sum = s;
        });
    }
    buffer.reset();
    EXPECT_EQ(sum.load(), 1000);
}

}  // namespace
