// Test helper process: builds a controller on a state file and a stand-in
// power-management tool, takes a lease through the real stack, prints
// "held" and waits to be killed.
//
// Usage: lease_test_child STATE_FILE TOOL

#include <unistd.h>

#include <future>
#include <memory>
#include <string>

#include "security_helper.h"
#include "sleep_setting.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string tool = argv[2];
  std::shared_ptr<vesk::SecurityHelper> helper = vesk::SecurityHelper::create(
      argv[1], [tool] { return vesk::readSleepDisabledWith(tool); },
      [tool](int64_t v) { return vesk::setSleepDisabledWith(tool, v); });
  auto connection = std::make_shared<vesk::Connection>();
  std::promise<bool> replied;
  helper->renew(connection, [&](bool ok) { replied.set_value(ok); });
  if (!replied.get_future().get()) return 1;
  if (write(STDOUT_FILENO, "held\n", 5) != 5) return 1;
  for (;;) pause();
}
