// Files that every program of the service's account shares: the event file
// and the registry hives.  Whoever comes first (the service, the print
// control, an administrator's kavelo-reg) creates the file read-write for
// its owner and its group, whatever the umask, so that the others of that
// group can append and write.  Which group that is the folder decides: in a
// set-group-ID folder (the package makes /var/lib/kavelo/registry one, group
// kavelo) every new file takes the folder's group.  Others get no access.
#ifndef KAVELO_PLATFORM_SHARED_FILE_H_
#define KAVELO_PLATFORM_SHARED_FILE_H_

#include <sys/types.h>

namespace kavelo::platform {

constexpr mode_t kSharedFileMode = 0660;

// Opens PATH with FLAGS (an access mode and O_APPEND, O_CLOEXEC ...),
// creating it with kSharedFileMode when it does not exist; an existing file
// keeps its mode.  Returns the descriptor, or -1 with errno set.
int OpenSharedFile(const char* path, int flags);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_SHARED_FILE_H_
