// User accounts: looking one up, and handing the whole process over to one
// for good (a service started by root runs as its own account).
#ifndef KAVELO_PLATFORM_ACCOUNT_H_
#define KAVELO_PLATFORM_ACCOUNT_H_

#include <cstdint>
#include <string>

namespace kavelo::platform {

struct Account {
  std::string name;
  uint32_t uid = 0;
  uint32_t gid = 0;  // the primary group
  std::string home;
};

// Looks the account up in the user database; false when there is none of
// that name (or the database cannot be read).
bool LookUpAccount(const std::string& name, Account* account);

// True when the process's effective user is root.
bool RunsAsRoot();

// Switches every thread of the process to the account for good: its
// supplementary groups, then real, effective and saved group and user ids.
// Afterwards it checks that every id is the account's and that the way
// back to root is closed.  USER and LOGNAME become the account's name; HOME
// becomes its home when it is unset or still names root's home (a HOME
// given on purpose stays).  Call it before the process starts the threads
// that do its work.  The process is left non-dumpable, as the kernel leaves
// it after such a change: no other process of the account (a print control
// that a hostile document took over) may trace it and use what it holds
// from root, such as root's terminal.  Returns "" on success, otherwise what failed (the
// process must not go on then: it may be left half switched).
std::string SwitchToAccount(const Account& account);

// True when the process may write the file at path; for a path that does
// not exist yet, when it may create it (write and search its folder).
bool CanWritePath(const std::string& path);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_ACCOUNT_H_
