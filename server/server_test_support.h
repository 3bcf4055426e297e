#pragma once
// The real taxoscope-server, started on a loopback port it picks itself
// (--listen 127.0.0.1:0; the port is read from its first line on stderr), and
// stopped on every path out of a test: SIGTERM at the end, SIGKILL where a
// test wants a crash, and SIGKILL from the destructor if it still runs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/temp_dir.h"

extern char** environ;

class ServerProcess {
 public:
  ~ServerProcess() { Kill(); }

  // Starts `taxoscope-server serve --state DIR --listen 127.0.0.1:0 extra...`,
  // behind `prefix` when given (a program that runs it as another user or
  // in another environment: setpriv, env); false when it did not say where
  // it listens within ten seconds.
  bool Start(const std::string& state, const std::vector<std::string>& extra = {},
             const std::vector<std::string>& prefix = {}) {
    log_ = state + ".log";
    std::vector<std::string> args = prefix;
    for (const char* arg : {TAXOSCOPE_SERVER, "serve", "--state"}) args.push_back(arg);
    for (const std::string& arg : {state, std::string("--listen"), std::string("127.0.0.1:0")}) args.push_back(arg);
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      pid_ = -1;
      return false;
    }
    for (int i = 0; i < 1000; ++i) {
      const std::string log = Log();
      const size_t at = log.find("://127.0.0.1:");
      if (at != std::string::npos && log.find('\n', at) != std::string::npos) {
        port_ = std::atoi(log.c_str() + at + 13);
        return true;
      }
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string Log() const { return ReadFileBytes(log_); }

  // SIGTERM and the exit status (-1 when it did not exit by itself).
  int Stop() { return Signal(SIGTERM); }
  void Kill() { Signal(SIGKILL); }

 private:
  int Signal(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
    // A sanitizer's report in the server's log is a failure of the test that ran it.
    const std::string log = Log();
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                               "runtime error: "}) {
      if (log.find(report) != std::string::npos) ADD_FAILURE() << "the server's log holds a sanitizer's report:\n" << log;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = 0;
  std::string log_;
};

// A command line through the shell; its standard output, and its status.
inline std::string RunShell(const std::string& line, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}
