// Test helper process: takes a lease through the real stack on a state
// file and a stand-in power-management tool, prints "held PID" and waits to
// be killed.
//
// Usage: lease_test_child STATE_FILE TOOL

#include <stdio.h>
#include <unistd.h>

#include <future>

#include "security_helper.h"
#include "sleep_setting.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string tool = argv[2];
  std::shared_ptr<vesk::SecurityHelper> helper = vesk::SecurityHelper::create(
      argv[1], [tool] { return vesk::readSleepDisabledWith(tool); },
      [tool](int64_t v) { return vesk::setSleepDisabledWith(tool, v); });
  std::promise<bool> replied;
  helper->renew(std::make_shared<vesk::Connection>(),
                [&](bool ok) { replied.set_value(ok); });
  if (!replied.get_future().get()) return 1;
  printf("held %d\n", static_cast<int>(getpid()));
  fflush(stdout);
  for (;;) pause();
}
