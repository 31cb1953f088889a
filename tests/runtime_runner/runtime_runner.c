// Runs a program on another C runtime through that runtime's own loader:
//   qs_runtime_runner LOADER LIBRARY_DIRS PROGRAM [ARGUMENT...]
// execs LOADER --library-path $LD_LIBRARY_PATH:LIBRARY_DIRS PROGRAM [ARGUMENT...].
// The loader takes --library-path in place of LD_LIBRARY_PATH, so a program told to look for a
// library in LD_LIBRARY_PATH (a plug-in folder, say) would otherwise never look there. Linked
// statically, so that no loader runs for the runner itself: an LD_PRELOAD meant for the program
// is neither loaded into it nor reported by it. The environment passes on unchanged.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kFixedArguments = 3, kFailure = 127 };

int main(int argc, char **argv) {
  if (argc < kFixedArguments + 1) {
    fprintf(stderr, "usage: %s LOADER LIBRARY_DIRS PROGRAM [ARGUMENT...]\n", argv[0]);
    return kFailure;
  }
  const char *loader = argv[1];
  const char *libraryDirs = argv[2];
  const char *environmentPath = getenv("LD_LIBRARY_PATH");
  char *path = NULL;
  if (environmentPath != NULL && environmentPath[0] != '\0') {
    const size_t length = strlen(environmentPath) + 1 + strlen(libraryDirs) + 1;
    path = malloc(length);
    if (path == NULL) {
      return kFailure;
    }
    snprintf(path, length, "%s:%s", environmentPath, libraryDirs);
  }
  // LOADER --library-path PATH PROGRAM ARGUMENT... NULL
  const int count = argc - kFixedArguments;
  char **arguments = calloc((size_t)count + 4, sizeof(char *));
  if (arguments == NULL) {
    return kFailure;
  }
  arguments[0] = argv[1];
  arguments[1] = "--library-path";
  arguments[2] = path != NULL ? path : argv[2];
  memcpy(&arguments[3], &argv[kFixedArguments], (size_t)count * sizeof(char *));
  execv(loader, arguments);
  fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], loader, strerror(errno));
  return kFailure;
}
