/* Where the process was started from, as the system recorded it. The path is
 * the one given to exec, so a symbolic link stays a link; the working
 * directory is captured before main runs, since it may change later. */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "binding/nm_helpers.h"

static char start_directory[PATH_MAX];
static int start_directory_errno;
static int have_start_directory;

__attribute__((constructor)) static void nm_capture_start_directory(void) {
  if (getcwd(start_directory, sizeof start_directory) != NULL) {
    have_start_directory = 1;
  } else {
    start_directory_errno = errno;
  }
}

const char* nm_started_executable_path(void) {
  return (const char*)getauxval(AT_EXECFN);
}

const char* nm_start_directory(void) {
  return have_start_directory ? start_directory : NULL;
}

int nm_start_directory_errno(void) {
  return start_directory_errno;
}
