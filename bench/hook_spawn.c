/* Starts one program and reports its own peak resident set. Usage:
 *   hook_spawn INPUT PROGRAM [ARG...]
 * runs PROGRAM with INPUT on standard input, standard output on /dev/null
 * and this process's environment, waits for it, and prints its ru_maxrss in
 * KiB. Linux counts into a child's ru_maxrss the resident set of the process
 * it was started from, as it stood at exec; started from this small,
 * statically linked process, that share stays below what the programs
 * measured use themselves (hook_bench shows it for /bin/true). */

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, argv[1], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawn(&pid, argv[2], &actions, NULL, argv + 2, environ) != 0)
    return 1;
  int status;
  struct rusage child;
  if (wait4(pid, &status, 0, &child) != pid) return 1;
  printf("%ld\n", child.ru_maxrss);
  return 0;
}
