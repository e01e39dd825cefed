// Running part of a test as an unprivileged account, as the service and
// the print control run in production.
#ifndef KAVELO_TESTSUPPORT_AS_ACCOUNT_H_
#define KAVELO_TESTSUPPORT_AS_ACCOUNT_H_

#include <functional>
#include <string>

namespace kavelo::testsupport {

// The unprivileged account of the tests: neither root nor an administrator
// of the private CUPS scheduler.
constexpr char kTestAccount[] = "nobody";

// Runs body in a forked child that has switched to the account for good
// (the test process must run as root); returns body's result (0 to 124),
// or -1 when the child could not switch, died, or did not end within
// timeoutMs (it is killed then).  body must not use the test framework's
// assertions: it reports through its result.
int RunAsAccount(const std::string& account, const std::function<int()>& body,
                 int timeoutMs = 120000);

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_AS_ACCOUNT_H_
