// The renders of a report's chunks with a stand-in render: never more at
// once than the workers, results taken in chunk order, a failure's text
// passed on, and a cancel ends what runs and what waits.
#include "printcontrol/printing/chunk_renders.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(ChunkRendersTest, RendersAtMostWorkersAtOnceAndAnswersInChunkOrder) {
  struct Case {
    int workers, chunks;
    int failing;  // -1: none
    int expectedPeak;
  } cases[] = {{1, 4, -1, 1}, {2, 5, -1, 2}, {3, 2, -1, 2}, {2, 4, 1, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.workers) + " workers, " + std::to_string(c.chunks) + " chunks");
    std::mutex mutex;
    int running = 0, peak = 0;
    std::vector<std::string> started;
    ChunkRenders renders(c.workers, [&](const std::string& html, const std::string& pdf,
                                        const std::atomic<bool>&, std::string* error) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        peak = std::max(peak, ++running);
        started.push_back(html);
      }
      // Later chunks finish first: order comes from the waits, not the ends.
      std::this_thread::sleep_for(milliseconds(150 - 20 * std::stoi(html)));
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      if (pdf == std::to_string(c.failing) + ".pdf") {
        *error = "chunk failed";
        return false;
      }
      return true;
    });
    for (int i = 0; i < c.chunks; ++i) {
      EXPECT_EQ(renders.Add(std::to_string(i), std::to_string(i) + ".pdf"), i);
    }
    for (int i = 0; i < c.chunks; ++i) {
      std::string error;
      EXPECT_EQ(renders.Wait(i, &error), i != c.failing) << i;
      EXPECT_EQ(error, i == c.failing ? "chunk failed" : "") << i;
    }
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(peak, c.expectedPeak);
    ASSERT_EQ(static_cast<int>(started.size()), c.chunks);
    EXPECT_TRUE(std::is_sorted(started.begin(), started.end())) << "not started in chunk order";
  }
}

TEST(ChunkRendersTest, CancelEndsRunningRendersAndFailsQueuedOnes) {
  std::atomic<int> renders{0};
  const Clock::time_point start = Clock::now();
  {
    ChunkRenders chunks(1, [&](const std::string&, const std::string&,
                               const std::atomic<bool>& cancelled, std::string*) {
      ++renders;
      // A render that would run a minute unless cancelled.
      while (!cancelled && Clock::now() - start < std::chrono::seconds(60)) {
        std::this_thread::sleep_for(milliseconds(5));
      }
      return !cancelled;
    });
    chunks.Add("0", "0.pdf");
    chunks.Add("1", "1.pdf");
    std::this_thread::sleep_for(milliseconds(50));
    chunks.Cancel();
    std::string error = "stale";
    EXPECT_FALSE(chunks.Wait(0, &error));
    EXPECT_FALSE(chunks.Wait(1, &error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(chunks.Wait(7, &error)) << "a chunk never added";
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(renders, 1) << "a queued chunk started after the cancel";
}

}  // namespace
}  // namespace kavelo::printcontrol
