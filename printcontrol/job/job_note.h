// What the print control alone knows of its job, for the job history: the
// report's title, the printer settings group, the time each stage took, the
// documents handed to the spooler and the failure text.  The service names
// the job's number in KAVELO_JOB_NUMBER; without it (a print control run by
// hand) nothing is written.  A history that cannot be written never fails
// the job.  Main thread only.
#ifndef KAVELO_PRINTCONTROL_JOB_NOTE_H_
#define KAVELO_PRINTCONTROL_JOB_NOTE_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace kavelo::printcontrol {

enum class JobStage { kTransform, kRender, kSpool };

// Adds the time to the stage.
void NoteStageTime(JobStage stage, double seconds);
// One PDF reached the spooler.
void NoteDocument();
void NoteSettingsGroup(const std::string& keyPath);
// A failure event's full text ("Ostrevo: ..."): the job's failure in the
// history, and the job counts as failed.
void NoteFailure(const std::string& eventText);
// True once a failure was noted in this run.
bool JobFailed();
// True when the job failed and the service asked to keep a failed job's
// spooled files (KAVELO_KEEP_FAILED=1) for a retry.
bool KeepFailedJobFiles();
// True when the service asked to keep a failed job's spooled files.
bool KeepFailedJobFilesAsked();
// Writes the title and the stages under the job's number.
void WriteJobNote(const std::string& title);

// Adds the time from its making to its end to a stage.
class StageTimer {
 public:
  explicit StageTimer(JobStage stage) : stage_(stage) {}
  ~StageTimer();
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  JobStage stage_;
  std::chrono::steady_clock::time_point begin_ = std::chrono::steady_clock::now();
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_JOB_NOTE_H_
