// One transform inside the print limits: TransformToHtml runs in a child
// process of its own, so that a stylesheet that runs away (a template that
// calls itself without end, output that doubles and doubles) ends at a
// limit while this process stays in control, reports which limit it was and
// removes the job's files.
#ifndef KAVELO_PRINTCONTROL_LIMITED_TRANSFORM_H_
#define KAVELO_PRINTCONTROL_LIMITED_TRANSFORM_H_

#include <cstddef>
#include <cstdint>

#include "platform/print_limits.h"

namespace kavelo::printcontrol {

// The limits of one transform.
struct TransformLimits {
  uint64_t addressSpaceBytes = 0;  // 0: the inherited limit
  int64_t htmlBytes = -1;          // negative: none
  int64_t timeMs = -1;             // negative: none
};

// The limits of a transform of the report at xmlPath (its size decides the
// time and HTML limits).
TransformLimits LimitsFor(const platform::PrintLimits& limits, const char* xmlPath);

// As TransformToHtml (same arguments and error texts), in a child process
// inside the limits.  Returns true when a limit (or a signal) ended the
// transform; the error text (errorSize bytes) then says which, with the
// report title:
//   "Error:The transform stopped at its memory limit of N MiB. Report Title:T"
//   "Error:The transform stopped at its HTML size limit of N bytes. Report Title:T"
//   "Error:The transform stopped at its time limit of N s. Report Title:T"
//   "Error:The transform ended with signal N (NAME). Report Title:T"
// The HTML file is deleted then.  Such a job is not transformed again.
bool LimitedTransform(const char* xmlPath, const char* xslPath, const char* htmlPath, int styleFlag,
                      const TransformLimits& limits, const char* title, char* error,
                      size_t errorSize);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_LIMITED_TRANSFORM_H_
