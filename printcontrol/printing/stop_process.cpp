#include "printcontrol/printing/stop_process.h"

#include "platform/process.h"

namespace kavelo::printcontrol {

namespace {

// A killed program ends at once; the wait only reaps it, so a short limit
// is enough and never holds the caller up for long.
constexpr int kReapWaitMs = 2000;

}  // namespace

void StopProcess(platform::Process* process) {
  if (process == nullptr || !process->IsValid()) return;
  process->Terminate();
  process->Wait(kReapWaitMs);
  *process = platform::Process();
}

}  // namespace kavelo::printcontrol
