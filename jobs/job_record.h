// One print job as the job history keeps it, and the events it caused.
#ifndef KAVELO_JOBS_JOB_RECORD_H_
#define KAVELO_JOBS_JOB_RECORD_H_

#include <cstdint>
#include <string>

namespace kavelo::jobs {

enum class JobState { kQueued, kHeld, kPrinting, kPrinted, kFailed, kCancelled };

// "queued", "held", "printing", "printed", "failed", "cancelled".
const char* JobStateName(JobState state);
// False for any other text.
bool ParseJobState(const std::string& text, JobState* state);
// Printed, failed and cancelled jobs have ended; the others are current.
bool HasEnded(JobState state);

// Times are milliseconds since 1970 (UTC); 0 means "not yet".
struct JobRecord {
  int64_t number = 0;
  JobState state = JobState::kQueued;
  int64_t receivedMs = 0;
  int64_t startedMs = 0;
  int64_t endedMs = 0;
  std::string clientAddress;  // empty for a job the service made itself (a retry)
  int32_t clientPort = 0;
  std::string title;  // from the report header, once the print control read it
  std::string printer;
  int32_t copies = 1;
  int32_t fromPage = 0;
  int32_t toPage = 0;
  int32_t orientation = 0;
  int64_t xmlBytes = 0;
  int64_t xslBytes = 0;
  int32_t documents = 0;  // PDFs handed to the spooler (one spooler job each)
  double waitSeconds = 0;
  double transformSeconds = 0;
  double renderSeconds = 0;
  double spoolSeconds = 0;
  int32_t exitStatus = -1;  // the print control's; -1 before it ended
  std::string failure;      // the text of the event that reported the failure
  std::string settingsGroup;  // the printer settings group the job printed with
  int64_t retryOf = 0;        // the failed job this one prints again; 0 none
  int64_t retriedAs = 0;      // the job that printed this one again; 0 none
  bool filesKept = false;     // a failed job's spooled files wait for a retry
  // The service's own: the job command line (it names the spool files) and
  // the job's place in the print order.  Never shown outside.
  std::string commandLine;
  int64_t queueOrder = 0;
};

struct JobEvent {
  int64_t number = 0;
  int64_t timeMs = 0;
  std::string level;  // "information", "warning", "error"
  std::string text;
};

// Milliseconds since 1970 now.
int64_t NowMs();

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_JOB_RECORD_H_
