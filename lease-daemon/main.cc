// VeskBreakSecurityHelper: the sleep lease daemon.

#include "helper_main.h"

int main() {
  vesk::HelperMain::main();
  return 0;
}
