/* The least a hook run can cost: read standard input the way the hook does
 * (pieces of at most 64 KiB, at most 1 MiB + 1 byte) and atomically replace
 * one small file in the directory named by argv[1]. The hook benchmark
 * measures VeskAgentBridge against this program.
 *
 * With "touch" as argv[2], it also reads one byte of every 64 of the input
 * once, as any program that looks at its input must: what that pass costs
 * beyond the floor is what memory costs a parser before it does any work. */

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kLimit = 1048576, kPiece = 65536 };

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 3 && strcmp(argv[2], "touch") == 0)) return 0;
  char* buffer = malloc(kLimit + 1);
  size_t size = 0;
  while (size <= kLimit) {
    size_t want = kLimit + 1 - size < kPiece ? kLimit + 1 - size : kPiece;
    ssize_t got = read(0, buffer + size, want);
    if (got <= 0) break;
    size += (size_t)got;
  }
  if (argc == 3) {
    volatile unsigned char sum = 0;
    for (size_t i = 0; i < size; i += 64) sum += (unsigned char)buffer[i];
  }
  char temporary[4096], target[4096];
  snprintf(temporary, sizeof temporary, "%s/.floor.XXXXXX", argv[1]);
  snprintf(target, sizeof target, "%s/floor.json", argv[1]);
  int fd = mkstemp(temporary);
  if (fd < 0) return 0;
  static const char kRecord[] = "{\"state\":\"working\"}";
  if (write(fd, kRecord, strlen(kRecord)) < 0) unlink(temporary);
  rename(temporary, target);
  close(fd);
  free(buffer);
  return 0;
}
