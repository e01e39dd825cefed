// Names of persisted print-queue entries.
#ifndef KAVELO_COMMON_JOB_NAME_H_
#define KAVELO_COMMON_JOB_NAME_H_

#include <string>

namespace kavelo {

// A fresh GUID in registry text form, "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}"
// with upper-case hex (16 random bytes shaped as a version-4 UUID); empty
// when no random bytes could be had.  Thread safe.
std::string NewJobName();

}  // namespace kavelo

#endif  // KAVELO_COMMON_JOB_NAME_H_
