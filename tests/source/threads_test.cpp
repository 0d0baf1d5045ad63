// The threads the feed keeps for its requests in hand: a job given while another runs gets a
// thread of its own, as the books read ahead wait for the ranges before them, and a thread idle
// again takes the next job.
#include <chrono>
#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "in_hand.h"

namespace lirvo::feed {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

TEST(Threads, AJobGivenWhileAnotherRunsHasAThreadOfItsOwnAndIdleThreadsAreTakenAgain) {
  Threads threads;
  std::promise<void> second_ran;
  std::shared_future<void> second = second_ran.get_future().share();
  // The first job waits for the second: one thread for both would never finish.
  std::future<void> first = threads.Run([second] {
    if (second.wait_for(kDeadline) != std::future_status::ready) {
      throw std::runtime_error("the second job waited for the first");
    }
  });
  std::future<void> next = threads.Run([&second_ran] { second_ran.set_value(); });
  ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
  first.get();
  next.get();
  EXPECT_EQ(threads.size(), 2U);

  // Both are idle: the next jobs run on them, and what one throws reaches its future.
  for (int i = 0; i < 20; ++i) {
    std::future<void> done = threads.Run([i] {
      if (i == 7) {
        throw std::runtime_error("seven");
      }
    });
    ASSERT_EQ(done.wait_for(kDeadline), std::future_status::ready);
    if (i == 7) {
      EXPECT_THROW(done.get(), std::runtime_error);
    }
  }
  EXPECT_EQ(threads.size(), 2U);
}

}  // namespace
}  // namespace lirvo::feed
