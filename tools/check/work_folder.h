#pragma once

#include <functional>
#include <string>

// The temporary folder a check runs in, removed however the check ends.
namespace zandrel::check {

// Makes $TMPDIR/zandrel-check-XXXXXX (TMPDIR unset or empty: /tmp) and runs `check` with it in a
// child process, which is all this process does meanwhile. When the child ends, normally or
// killed, the folder is removed and its exit status returned (a child killed by a signal gives
// kExitUnusable, said on standard error). On SIGINT, SIGTERM or SIGHUP the child is killed, the
// folder removed, and this process ends by that same signal. A folder that cannot be made is
// passed on as an empty path, for the check to report.
int runInWorkFolder(const std::function<int(const std::string& workFolder)>& check);

// Removes a folder and everything in it, without following symbolic links. Async-signal-safe
// it is not; it runs once the child has ended.
void removeTree(const std::string& folder);

}  // namespace zandrel::check
