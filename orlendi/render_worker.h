// The warm renderer: a small pool of long-lived Python processes per account
// with WeasyPrint imported once, each reached over a Unix socket in a folder
// private to the account (the first in the runtime folder, the others in its
// sub-folders w1, w2, ...; one render at a time per worker, held by the
// slot's busy lock).  orlendi starts it on first use (detached, inside the
// print control's address-space limit), sends it the paths of one document
// and waits for its answer within the render time limit; a worker that runs
// past the limit is killed.  The worker ends after kWorkerIdleSeconds
// without a request, and after answering once it has rendered
// kWorkerDocuments documents or grown past its memory bound.
#ifndef KAVELO_ORLENDI_RENDER_WORKER_H_
#define KAVELO_ORLENDI_RENDER_WORKER_H_

#include <cstdint>
#include <string>

namespace kavelo::orlendi {

constexpr int kWorkerIdleSeconds = 600;
constexpr int kWorkerDocuments = 200;
constexpr uint64_t kWorkerMaxRssBytes = 1ULL << 30;
// The socket's name inside the runtime folder.
constexpr char kWorkerSocketName[] = "render.sock";

// The account's private runtime folder for the worker: KAVELO_ORLENDI_RUNTIME
// itself when it is an absolute path; else FOLDER/kavelo where FOLDER is
// XDG_RUNTIME_DIR, else /run/user/UID, when that is an absolute path to a
// folder of this account that only it may enter; otherwise
// /tmp/kavelo-UID-render.  Created 0700
// when missing.  Empty, with *error set, when the folder is not a real
// folder of this account with mode 0700 (a symbolic link, another owner,
// looser permissions): the worker is then not used.
std::string WorkerRuntimeFolder(std::string* error);

enum class WarmResult {
  kRendered,     // the PDF is written
  kFailed,       // WeasyPrint failed; the reason is in the error file
  kTimedOut,     // no answer within the time limit; the worker was killed
  kUnavailable,  // no worker could be reached or started: render cold
};

// The slots of the pool a render may take: first .. first + count - 1
// (slot 0 is the runtime folder itself, slot N its sub-folder wN).
struct SlotRange {
  int first = 0;
  int count = 1;
};

// Renders through the first free worker of the slots (at least 1), starting
// it when none answers; waits for a free one when all render.  The paths
// must be absolute.  timeLimitMs covers the wait and starting the worker too.
WarmResult RenderWarm(const std::string& htmlPath, const std::string& cssPath,
                      const std::string& pdfPath, const std::string& errorPath,
                      const std::string& assets, int timeLimitMs, uint64_t addressSpaceBytes,
                      SlotRange slots = {});

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_RENDER_WORKER_H_
