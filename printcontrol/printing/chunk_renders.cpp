#include "printcontrol/printing/chunk_renders.h"

#include <algorithm>
#include <utility>

namespace kavelo::printcontrol {

ChunkRenders::ChunkRenders(int workers, ChunkRender render) : render_(std::move(render)) {
  for (int i = 0; i < std::max(1, workers); ++i) threads_.emplace_back([this] { Run(); });
}

ChunkRenders::~ChunkRenders() {
  Cancel();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

int ChunkRenders::Add(const std::string& htmlPath, const std::string& pdfPath) {
  int number;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    chunks_.push_back(Chunk{htmlPath, pdfPath, State::kQueued, ""});
    number = static_cast<int>(chunks_.size()) - 1;
  }
  changed_.notify_all();
  return number;
}

bool ChunkRenders::Wait(int chunk, std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (chunk < 0 || static_cast<size_t>(chunk) >= chunks_.size()) {
    error->clear();
    return false;
  }
  Chunk& c = chunks_[static_cast<size_t>(chunk)];
  // A queued chunk that no thread will start any more counts as failed.
  changed_.wait(lock, [&] {
    return c.state == State::kDone || c.state == State::kFailed ||
           (cancelled_ && c.state == State::kQueued);
  });
  if (c.state == State::kDone) return true;
  *error = c.error;
  return false;
}

void ChunkRenders::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  changed_.notify_all();
}

void ChunkRenders::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closing_ || cancelled_ || next_ < chunks_.size(); });
    if (closing_ || cancelled_) return;
    Chunk& c = chunks_[next_++];
    c.state = State::kRunning;
    const std::string html = c.htmlPath, pdf = c.pdfPath;
    lock.unlock();
    // The render runs without the lock: it takes seconds.
    std::string error;
    const bool rendered = render_(html, pdf, cancelled_, &error);
    lock.lock();
    c.state = rendered ? State::kDone : State::kFailed;
    c.error = std::move(error);
    changed_.notify_all();
  }
}

}  // namespace kavelo::printcontrol
