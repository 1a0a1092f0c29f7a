// The lease controller on fakes: its transitions as step scripts. The real
// timer's retries of an owed restore are root_test.py's (no_listener).

#include "security_helper.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "lease_harness.h"

namespace vesk {
namespace {

using testing::LeaseHarness;

// Connections by name; any other name stands for none.
using Clients = std::map<std::string, std::shared_ptr<Connection>>;

// Plays a ';'-separated script and returns the reply of its last request.
// Steps: "renew X", "release X", "invalidate X" (X: a or b), "tick",
// "advance SECONDS", "setting V", "reject V", "failreads",
// "fail write|permissions", "clear" (all faults), "unlink" (the state file),
// "relinquish".
std::optional<bool> play(LeaseHarness& h, Clients& c,
                         const std::string& script) {
  std::optional<bool> reply;
  std::istringstream steps(script);
  testing::FakeSystem& s = *h.system;
  for (std::string step; std::getline(steps, step, ';');) {
    std::istringstream words(step);
    std::string verb, arg;
    words >> verb >> arg;
    if (verb == "renew") reply = h.renew(c[arg]);
    if (verb == "release") reply = h.release(c[arg]);
    if (verb == "relinquish") reply = h.helper->relinquish();
    if (verb == "invalidate") h.invalidate(c[arg]);
    if (verb == "tick") h.tick();
    if (verb == "advance") s.now += std::stod(arg);
    if (verb == "setting") s.setting = std::stoll(arg);
    if (verb == "failreads") s.failReads = true;
    if (verb == "clear") s.clearFaults();
    if (verb == "unlink") ::unlink(h.statePath.c_str());
    if (verb == "fail") {
      s.failingSteps.insert(arg == "write" ? StateFileStep::kWrite
                                           : StateFileStep::kSetPermissions);
    }
    if (verb == "reject") s.rejected.insert(std::stoll(arg));
  }
  return reply;
}

struct Transition {
  const char* given;  // from a started controller, setting 0, no faults
  const char* when;
  std::optional<bool> reply;
  const char* owner;  // a, b or none
  std::optional<int64_t> original;
  int64_t setting;
  std::optional<int64_t> file;  // absent: no state file
  std::vector<int64_t> writes;  // by `when`
};

constexpr auto kNo = std::nullopt;
// A restore is owed and no one holds the lease.
#define OWED "renew a; reject 0; release a; clear"

// clang-format off
const Transition kTransitions[] = {
  // given, when: reply, owner, captured, setting, file, writes
  {"", "renew a", true, "a", 0, 1, 0, {1}},
  {"renew a; setting 0; advance 9", "renew a", true, "a", 0, 1, 0, {1}},
  {"renew a", "renew b", false, "a", 0, 1, 0, {}},
  {"renew a", "release b", false, "a", 0, 1, 0, {}},
  {"renew a", "release a", true, "none", kNo, 0, kNo, {0}},
  {"renew a", "invalidate a", kNo, "none", kNo, 0, kNo, {0}},
  {"renew a", "invalidate b", kNo, "a", 0, 1, 0, {}},
  {"renew a; advance 9.999", "tick", kNo, "a", 0, 1, 0, {}},
  {"renew a; advance 10", "tick", kNo, "none", kNo, 0, kNo, {0}},
  {OWED, "tick", kNo, "none", kNo, 0, kNo, {0}},
  {OWED, "release b", true, "none", 0, 1, 0, {}},
  // An owed value is kept through the next lease, not captured afresh.
  {OWED, "renew b", true, "b", 0, 1, 0, {}},
  // Failed first captures.
  {"failreads", "renew a", false, "none", kNo, 0, kNo, {}},
  {"fail write", "renew a", false, "none", kNo, 0, kNo, {}},
  {"fail permissions", "renew a", false, "none", kNo, 0, 0, {}},
  {"reject 1", "renew a", false, "none", kNo, 0, kNo, {1, 0}},
  {"reject 0; reject 1", "renew a", false, "none", 0, 0, 0, {1, 0}},
  // A state file deleted from outside: the value goes back, but the restore
  // stays owed and is tried again on every tick.
  {"renew a; unlink", "release a; tick; tick", false, "none", 0, 0, kNo,
   {0, 0, 0}},
  // Shutting down puts the value back and grants no lease after that; a
  // write-back that fails leaves the file for the next start.
  {"renew a", "relinquish; renew b", false, "none", kNo, 0, kNo, {0}},
  {"renew a; reject 0", "relinquish", false, "none", 0, 1, 0, {0}},
};
// clang-format on

TEST(SecurityHelperTest, TransitionsEndInTheExpectedState) {
  for (const Transition& t : kTransitions) {
    SCOPED_TRACE(std::string(t.given) + " | " + t.when);
    LeaseHarness h;
    Clients c{{"a", std::make_shared<Connection>()},
              {"b", std::make_shared<Connection>()}};
    h.start();
    play(h, c, t.given);
    h.system->writes.clear();
    EXPECT_EQ(play(h, c, t.when), t.reply);
    SecurityHelperTestPeer::Snapshot s = h.snapshot();
    EXPECT_EQ(s.owner, c[t.owner]);
    EXPECT_EQ(s.original, t.original);
    EXPECT_EQ(h.system->setting, t.setting);
    EXPECT_EQ(h.fileValue(), t.file);
    EXPECT_EQ(h.fileExists(), t.file.has_value());
    EXPECT_EQ(h.system->writes, t.writes);
    if (t.reply == true && s.owner) {
      EXPECT_EQ(s.deadline, h.system->now + 10);
    }
  }
}

}  // namespace
}  // namespace vesk
