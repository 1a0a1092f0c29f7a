// The client tool's command line over a stand-in connection that answers
// YES to renew and NO to release: what each argument list prints, where,
// and with which exit status.

#include "command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace vesk::client {
namespace {

// Answers until `calls` reaches `closeAfter`, then is closed.
class StandInSession : public Session {
 public:
  StandInSession(std::string& calls, size_t closeAfter)
      : calls_(calls), closeAfter_(closeAfter) {}
  std::optional<bool> call(Request request) override {
    if (calls_.size() == closeAfter_) return std::nullopt;
    calls_ += request == Request::kRenew ? 'r' : 'l';
    return request == Request::kRenew;
  }

 private:
  std::string& calls_;
  size_t closeAfter_;
};

TEST(CommandLineTest, PrintsAnswersUsageAndFailuresWithTheirStatus) {
  const std::string usage = "usage: vesk-lease-client [--socket PATH]";
  const std::string err = "vesk-lease-client: ";
  struct {
    std::vector<const char*> args;
    std::string input;
    int status;
    std::string out, err;    // expected starts of standard output and error
    std::string calls = "";  // 'r' per renew sent, 'l' per release
    size_t closeAfter = 100;
    bool reachable = true;
  } const cases[] = {
      // clang-format off
      {{"--help"}, "", 0, usage, ""},
      {{"renew", "--help"}, "", 0, usage, ""},
      {{"--version"}, "", 0, "vesk-lease-client 9.8.7\n", ""},
      {{}, "", 2, "", err + "no action given\n" + usage},
      {{"renew", "-"}, "", 2, "", err + "actions and \"-\""},
      {{"nap"}, "", 2, "", err + "unknown action or option \"nap\"\n" + usage},
      {{"--count", "0", "renew"}, "", 2, "", err + "--count needs"},
      {{"--count", "2x", "renew"}, "", 2, "", err + "--count needs"},
      {{"--interval", "-1", "renew"}, "", 2, "", err + "--interval needs"},
      {{"--interval", "inf", "renew"}, "", 2, "", err + "--interval needs"},
      {{"--interval=nan", "renew"}, "", 2, "", err + "--interval needs"},
      {{"--interval", "1e30", "renew"}, "", 2, "", err + "--interval needs"},
      {{"-h"}, "", 0, usage, ""},
      {{"-x", "renew"}, "", 2, "", err + "unknown action or option \"-x\""},
      {{"--nap=1", "renew"}, "", 2, "", err + "unknown action or option \"--nap\""},
      {{"--", "--help"}, "", 2, "", err + "unknown action or option \"--help\""},
      {{"--count=2", "--interval=0", "renew", "--", "release"}, "", 0,
       "renew: YES\nrelease: NO\nrenew: YES\nrelease: NO\n", "", "rlrl"},
      {{"--socket", "--help", "renew"}, "", 1, "",
       err + "cannot connect to --help:", "", 0, false},
      {{"renew", "--socket"}, "", 2, "", err + "option --socket needs"},
      {{"--count", "2", "--interval", "0", "renew", "release"}, "", 0,
       "renew: YES\nrelease: NO\nrenew: YES\nrelease: NO\n", "", "rlrl"},
      {{"-"}, "renew\n\nnap\nrelease\n", 0, "renew: YES\nrelease: NO\n",
       err + "unknown action \"nap\"\n", "rl"},
      {{"renew", "renew"}, "", 1, "renew: YES\n",
       err + "renew: connection closed\n", "r", 1},
      {{"renew"}, "", 1, "",
       err + "cannot connect to /run/default: Permission denied\n", "", 0, false},
      {{"--socket", "/s", "renew"}, "", 1, "", err + "cannot connect to /s:", "",
       0, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<const char*> args = {"vesk-lease-client"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::istringstream in(c.input);
    std::ostringstream out, errors;
    std::string calls;
    Platform platform{
        "/run/default", "9.8.7",
        [&](const std::string& address,
            std::string& error) -> std::unique_ptr<Session> {
          if (c.reachable) {
            return std::make_unique<StandInSession>(calls, c.closeAfter);
          }
          error = "cannot connect to " + address + ": Permission denied";
          return nullptr;
        }};
    int status = runCommandLine(static_cast<int>(args.size()), args.data(),
                                platform, {in, out, errors});
    SCOPED_TRACE(out.str() + errors.str());
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out.str().rfind(c.out, 0), 0u);
    EXPECT_EQ(errors.str().rfind(c.err, 0), 0u);
    EXPECT_EQ(calls, c.calls);
  }
}

}  // namespace
}  // namespace vesk::client
