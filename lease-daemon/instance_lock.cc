// What the daemon does with the outcome of its instance lock.

#include <unistd.h>

#include <memory>

#include "instance_lock.h"
#include "security_helper.h"

namespace vesk {

void holdInstanceLockOrExit() {
  switch (takeInstanceLock(kInstanceLockPath)) {
    case InstanceLock::kTaken:
      return;
    case InstanceLock::kBusy:
      _exit(1);
    case InstanceLock::kFailed:
      break;
  }
  // Building the controller runs start-up recovery; relinquishing tries an
  // unfinished restore once more. No client can reach it: no service is
  // published.
  std::shared_ptr<SecurityHelper> helper = SecurityHelper::create(
      kLeaseStatePath, &readSleepDisabled, &setSleepDisabled, &systemUptime);
  helper->relinquish();
  // The controller's queue and timer threads are still running: end the
  // process without running destructors under them.
  _exit(1);
}

}  // namespace vesk
