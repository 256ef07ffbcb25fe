#include "common/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

TEST(WorkerPool, EveryThreadRunsEachJobAndAFailureComesBackAfterAllFinished) {
  for (const std::size_t helpers : {0, 1, 3}) {
    WorkerPool pool(helpers);
    ASSERT_EQ(pool.size(), helpers + 1);
    for (int round = 0; round < 50; ++round) {
      std::vector<int> ran(pool.size(), 0);
      pool.Run([&](std::size_t thread_index) { ++ran[thread_index]; });
      EXPECT_EQ(ran, std::vector<int>(pool.size(), 1));
    }
    // A job that throws on the last thread only: the others still finish, the pool stays
    // usable, and the next job runs clean.
    std::atomic<std::size_t> finished{0};
    EXPECT_THROW(pool.Run([&](std::size_t thread_index) {
      if (thread_index + 1 == pool.size()) throw std::runtime_error("job");
      ++finished;
    }),
                 std::runtime_error);
    EXPECT_EQ(finished, pool.size() - 1);
    EXPECT_NO_THROW(pool.Run([](std::size_t) {}));
  }
}

TEST(RecyclingQueue, ItemsArriveInOrderAndAStoppedProducerGetsNoMore) {
  RecyclingQueue<int> queue(2);
  constexpr int kItems = 1000;
  std::vector<int> received;
  {
    BackgroundTask producer([&] {
      for (int value = 0; value < kItems; ++value) {
        std::unique_ptr<int> item = queue.TakeFree();
        ASSERT_NE(item, nullptr);
        *item = value;
        queue.GiveFilled(std::move(item));
      }
      queue.Finish();
    });
    for (std::unique_ptr<int> item; (item = queue.TakeFilled()) != nullptr;) {
      received.push_back(*item);
      queue.GiveFree(std::move(item));
    }
    producer.Join();
  }
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kItems));
  for (int value = 0; value < kItems; ++value) EXPECT_EQ(received[value], value);
  queue.Stop();
  EXPECT_EQ(queue.TakeFree(), nullptr);

  BackgroundTask failing([] { throw std::runtime_error("task"); });
  EXPECT_THROW(failing.Join(), std::runtime_error);
}
