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

// Makes PATH, empty and with kSharedFileMode, when it does not exist, and
// never opens it: closing any descriptor of a file drops every POSIX lock
// the process holds on it, and SQLite's connections in this process rely on
// theirs (an existing hive is left alone).  Returns false with errno set
// when PATH neither exists nor could be made.
bool CreateSharedFile(const char* path);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_SHARED_FILE_H_
