// The renders of a split report's chunks: up to a number of them at once,
// each on a thread of its own, while the caller takes their results in
// chunk order (and hands the PDFs to the spooler in that order).
#ifndef KAVELO_PRINTCONTROL_CHUNK_RENDERS_H_
#define KAVELO_PRINTCONTROL_CHUNK_RENDERS_H_

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavelo::printcontrol {

// Renders one chunk's HTML into its PDF; false with *error on failure (an
// empty text when the failure was reported already).  It should end soon
// once cancelled becomes true.
using ChunkRender = std::function<bool(const std::string& htmlPath, const std::string& pdfPath,
                                       const std::atomic<bool>& cancelled, std::string* error)>;

class ChunkRenders {
 public:
  // workers: how many renders run at once (at least 1).
  ChunkRenders(int workers, ChunkRender render);
  // Cancels what has not finished and waits for every render thread.
  ~ChunkRenders();
  ChunkRenders(const ChunkRenders&) = delete;
  ChunkRenders& operator=(const ChunkRenders&) = delete;

  // Queues the next chunk: its HTML file and the PDF it renders into.
  // Chunks start in the order they are added.  Returns the chunk's number.
  int Add(const std::string& htmlPath, const std::string& pdfPath);

  // Waits until chunk number chunk has rendered.  True when it did; false
  // with *error (see ChunkRender) when it failed, or when it was cancelled
  // before it rendered.
  bool Wait(int chunk, std::string* error);

  // No chunk starts any more and the renders in flight are told to stop.
  void Cancel();

 private:
  enum class State { kQueued, kRunning, kDone, kFailed };
  struct Chunk {
    std::string htmlPath, pdfPath;
    State state = State::kQueued;
    std::string error;
  };
  void Run();

  ChunkRender render_;
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> chunks_;  // guarded by mutex_; stable addresses
  size_t next_ = 0;           // guarded by mutex_: the first chunk not started
  bool closing_ = false;      // guarded by mutex_
  std::vector<std::thread> threads_;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_CHUNK_RENDERS_H_
