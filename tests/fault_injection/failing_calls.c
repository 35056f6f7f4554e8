/* Preloaded into a program under test, makes the system calls named in
 * QUATDEPTH_FAILING_CALLS (any of "rename", "fsync", "fchmod", separated by
 * commas) fail with EIO, as a failing disk or network file system would:
 * the tests check that no such failure is reported as success and that
 * the file being replaced is left as it was. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static int failing(const char *call) {
  const char *list = getenv("QUATDEPTH_FAILING_CALLS");
  const size_t length = strlen(call);
  for (const char *at = list; at && *at;) {
    const char *end = strchr(at, ',');
    const size_t size = end ? (size_t)(end - at) : strlen(at);
    if (size == length && strncmp(at, call, length) == 0) return 1;
    at = end ? end + 1 : NULL;
  }
  return 0;
}

int rename(const char *from, const char *to) {
  if (failing("rename")) return errno = EIO, -1;
  int (*real)(const char *, const char *) = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
  return real(from, to);
}

int fsync(int fd) {
  if (failing("fsync")) return errno = EIO, -1;
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  return real(fd);
}

int fchmod(int fd, mode_t mode) {
  if (failing("fchmod")) return errno = EIO, -1;
  int (*real)(int, mode_t) = (int (*)(int, mode_t))dlsym(RTLD_NEXT, "fchmod");
  return real(fd, mode);
}
