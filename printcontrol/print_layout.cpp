// The print layout step of the job set-up.
#include "printcontrol/report_job.h"

namespace kavelo {

// Reading the stylesheet's print style, choosing the printer settings for
// the orientation and rewriting the print style are not built yet: until
// they are, the job keeps the default settings and its own stylesheet.
void ReportJob::ChoosePrintLayout(int /*orientation*/) {}

}  // namespace kavelo
