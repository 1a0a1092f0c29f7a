// Running a program as a child process and collecting its standard output.
//
// The child runs `path` directly (no search, no shell) with `arguments` after
// argv[0], the daemon's environment, and its standard input inherited. Its
// standard error goes to the null device; its standard output goes to a pipe
// whose bytes are handed to `output` as they arrive, or to the null device
// when `output` is empty. The child inherits no descriptor but 0, 1 and 2,
// and starts with every signal at its default action and none blocked, so a
// signal the daemon ignores does not stay ignored in the tool.
//
// The call blocks the calling thread until the output has reached end of
// file and the child has been reaped; there is no time limit. It needs
// SIGCHLD not to be ignored, so that the child can be waited for.

#ifndef VESK_LEASE_DAEMON_SUBPROCESS_H_
#define VESK_LEASE_DAEMON_SUBPROCESS_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

using OutputSink = std::function<void(std::string_view chunk)>;

// The exit status of the child (0 to 255). Absent when it could not be
// started, when its output could not be read to the end, or when it ended
// through a signal.
std::optional<int> runProcess(const std::string& path,
                              const std::vector<std::string>& arguments,
                              const OutputSink& output);

}  // namespace vesk

#endif  // VESK_LEASE_DAEMON_SUBPROCESS_H_
