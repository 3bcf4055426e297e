// Console services on Linux and other POSIX systems.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <signal.h>

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

bool ConsoleStderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnInterrupt(int) { stopRequested = 1; }

}  // namespace

void ConsoleInstallStopHandler() {
  // The port reads poll in short steps and retry after a signal, so no
  // SA_RESTART is needed; SA_RESETHAND lets a second Ctrl-C end the process.
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool ConsoleStopRequested() { return stopRequested != 0; }

// POSIX streams never translate line ends, and terminals take UTF-8.
void ConsoleBinaryStdout() {}
void ConsoleUtf8Output() {}
