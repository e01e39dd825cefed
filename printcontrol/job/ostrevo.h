// The print control program Ostrevo: one print job per run, or the
// registration of its event source.
#ifndef KAVELO_PRINTCONTROL_OSTREVO_H_
#define KAVELO_PRINTCONTROL_OSTREVO_H_

namespace kavelo::printcontrol {

// Runs the program on its arguments:
//   (none)                     nothing but starting and ending the XML libraries
//   /regserver, /unregserver   (any letter case) the event source is
//                              registered or removed; further arguments are
//                              ignored
//   --help, -h                 the usage text on standard output
//   /standby                   (alone) waits for the service to hand over
//                              the job's arguments and environment entries
//                              on standard input (standby_process.h), then
//                              runs them; an empty input ends it at once
//   anything else              one print job on the arguments joined with
//                              single blanks
// The job's input files are deleted at the end in every case.  Returns the
// exit status, always 0: nobody reads it, failures go to the event log.
int RunOstrevo(int argc, const char* const* argv);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_OSTREVO_H_
