// VeskBreakSecurityHelper: the sleep lease daemon.

#include <stdio.h>
#include <string.h>

#include "helper_main.h"

namespace {

constexpr char kUsage[] =
    "usage: VeskBreakSecurityHelper\n"
    "       VeskBreakSecurityHelper --help | --version\n";
constexpr char kHelp[] =
    "The Vesk sleep lease daemon. The service manager starts it as root,\n"
    "with no arguments; it then serves until it is stopped.\n";

// The service manager never passes arguments, so any argument is a person
// trying the program: answer them and do nothing else (no lock, socket,
// state file or tool run). 0 for a help or version request, 2 otherwise.
int answerArguments(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    fputs(kUsage, stdout);
    fputs(kHelp, stdout);
  } else if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    fputs("VeskBreakSecurityHelper " VESK_VERSION "\n", stdout);
  } else {
    fputs(kUsage, stderr);
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return answerArguments(argc, argv);
  vesk::HelperMain::main();
  return 0;
}
