#include "service/host/control_queue.h"

#include <thread>

#include <gtest/gtest.h>

namespace kavelo::service {
namespace {

TEST(ControlQueueTest, CodesArriveInOrderAndAStopBeforeCreateIsKept) {
  ControlQueue queue;
  queue.Post(1);  // a stop while the service is still starting
  ASSERT_TRUE(queue.Create());
  queue.Post(4);
  uint32_t code = 0;
  ASSERT_TRUE(queue.Take(&code));
  EXPECT_EQ(code, 1u);
  ASSERT_TRUE(queue.Take(&code));
  EXPECT_EQ(code, 4u);
}

TEST(ControlQueueTest, TakeWaitsForAPostFromAnotherThreadAndCloseDropsTheRest) {
  ControlQueue queue;
  queue.Create();
  std::thread poster([&] { queue.Post(1); });
  uint32_t code = 0;
  EXPECT_TRUE(queue.Take(&code));
  EXPECT_EQ(code, 1u);
  poster.join();

  queue.Post(1);
  queue.Close();
  EXPECT_FALSE(queue.IsOpen());
  EXPECT_FALSE(queue.Take(&code));  // dropped with the queue

  // A taker blocked in Take is released by Close.
  queue.Create();
  std::thread taker([&] { EXPECT_FALSE(queue.Take(&code)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  queue.Close();
  taker.join();
}

}  // namespace
}  // namespace kavelo::service
