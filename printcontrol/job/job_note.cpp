#include "printcontrol/job/job_note.h"

#include <cstdlib>
#include <memory>

#include "jobs/job_history.h"
#include "jobs/job_settings.h"
#include "jobs/own_job.h"

namespace kavelo::printcontrol {

namespace {

struct Note {
  double seconds[3] = {0, 0, 0};
  int32_t documents = 0;
  std::string settingsGroup;
  bool failed = false;
  std::unique_ptr<jobs::JobHistory> history;  // opened at the first write
  bool opened = false;
};

Note& TheNote() {
  static Note note;
  return note;
}

int64_t JobNumber() { return jobs::OwnJobNumber(); }

// The service's history, when this run has a job number and the file is
// there (the print control never makes it).
jobs::JobHistory* History() {
  Note& note = TheNote();
  if (!note.opened) {
    note.opened = true;
    if (JobNumber() == 0) return nullptr;
    auto history = std::make_unique<jobs::JobHistory>();
    if (history->Open(jobs::DefaultHistoryPath(), jobs::JobHistory::Mode::kReadWrite)) {
      note.history = std::move(history);
    }
  }
  return note.history.get();
}

}  // namespace

StageTimer::~StageTimer() {
  NoteStageTime(stage_, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_)
                            .count());
}

void NoteStageTime(JobStage stage, double seconds) {
  TheNote().seconds[static_cast<int>(stage)] += seconds;
}

void NoteDocument() { ++TheNote().documents; }

void NoteSettingsGroup(const std::string& keyPath) { TheNote().settingsGroup = keyPath; }

void NoteFailure(const std::string& eventText) {
  TheNote().failed = true;
  if (jobs::JobHistory* history = History()) {
    history->RecordFailure(JobNumber(), jobs::NowMs(), eventText);
  }
}

bool JobFailed() { return TheNote().failed; }

bool KeepFailedJobFilesAsked() {
  const char* keep = std::getenv(jobs::kKeepFailedVariable);
  return keep != nullptr && std::string(keep) == "1";
}

bool KeepFailedJobFiles() { return JobFailed() && KeepFailedJobFilesAsked(); }

void WriteJobNote(const std::string& title) {
  jobs::JobHistory* history = History();
  if (history == nullptr) return;
  Note& note = TheNote();
  // orlendi reports its own failures, into the history too.
  jobs::JobRecord row;
  if (history->Find(JobNumber(), &row) && !row.failure.empty()) note.failed = true;
  history->RecordPrintControl(JobNumber(), title, note.settingsGroup, note.documents,
                              note.seconds[0], note.seconds[1], note.seconds[2]);
  if (KeepFailedJobFiles()) history->SetFilesKept(JobNumber(), true);
}

}  // namespace kavelo::printcontrol
