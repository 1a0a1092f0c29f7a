/* lease_fake_pmset: a stand-in for the power-management tool for the lease
 * benchmarks. "-g" prints output shaped like the real tool's with sleep
 * disabled; "-a disablesleep V" succeeds without doing anything. As small as
 * a program can be, so that what the daemon adds around it shows. */

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "-g") == 0) {
    fputs(
        "System-wide power settings:\n"
        " SleepDisabled\t\t1\n"
        "Currently in use:\n"
        " standby              1\n"
        " Sleep On Power Button 1\n"
        " hibernatefile        /var/vm/sleepimage\n"
        " powernap             1\n"
        " networkoversleep     0\n"
        " disksleep            10\n"
        " sleep                1\n"
        " hibernatemode        3\n"
        " ttyskeepawake        1\n"
        " displaysleep         2\n"
        " tcpkeepalive         1\n"
        " lowpowermode         0\n"
        " womp                 1\n",
        stdout);
    return 0;
  }
  if (argc == 4 && strcmp(argv[1], "-a") == 0 &&
      strcmp(argv[2], "disablesleep") == 0) {
    return 0;
  }
  return 64;
}
