// Stopping a program the print control started.  Kept apart from the other
// utilities so that code which never starts a child does not pull in the
// process layer.
#ifndef KAVELO_PRINTCONTROL_STOP_PROCESS_H_
#define KAVELO_PRINTCONTROL_STOP_PROCESS_H_

namespace kavelo::platform {
class Process;
}  // namespace kavelo::platform

namespace kavelo::printcontrol {

// Kills a started program (its whole process group), reaps it, and releases
// the handle: *process is left empty.  Nothing for an empty record.
void StopProcess(platform::Process* process);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_STOP_PROCESS_H_
