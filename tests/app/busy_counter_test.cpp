// The busy count: nested periods, never negative, safe from two threads.
#include "app/core/busy_counter.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(BusyCounter, OnlyTheOutermostPeriodBeginsAndEndsTheWait) {
    BusyCounter busy;
    EXPECT_TRUE(busy.begin());
    EXPECT_FALSE(busy.begin());
    EXPECT_FALSE(busy.end());  // still busy: the wait cursor stays
    EXPECT_EQ(busy.value(), 1);
    EXPECT_TRUE(busy.end());   // the wait cursor goes
    EXPECT_FALSE(busy.end());  // nothing to end
    EXPECT_EQ(busy.value(), 0);
    EXPECT_TRUE(busy.begin());
}

TEST(BusyCounter, PeriodsFromTwoThreadsBalanceOut) {
    BusyCounter busy;
    auto work = [&busy] {
        for (int i = 0; i < 20000; ++i) {
            busy.begin();
            busy.end();
        }
    };
    std::thread worker(work);
    work();
    worker.join();
    EXPECT_EQ(busy.value(), 0);
}

}  // namespace
