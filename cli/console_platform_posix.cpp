// Console services on Linux and other POSIX systems.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include "cli/console_ui.h"

void ConsoleOpenFile(const char* path) {
  // xdg-open in a child of its own; the viewer's fate is not ours to report.
  pid_t child = fork();
  if (child == 0) {
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
    }
    execlp("xdg-open", "xdg-open", path, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child > 0) {
    int status = 0;
    waitpid(child, &status, 0);
  }
}
