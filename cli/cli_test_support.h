#pragma once
// The real taxoscope-cli binary run through the shell, as a user runs it.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "testsupport/temp_dir.h"

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

// args are taken by the shell as typed; stdout and stderr land in dir.
inline CliRun RunCli(const TempDir& dir, const std::string& args) {
  std::string out = dir.File("stdout"), err = dir.File("stderr");
  std::string command = std::string("'") + TAXOSCOPE_CLI + "' " + args + " >'" + out + "' 2>'" + err + "'";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}

// The same with a shell prefix before the binary: "cat 'D.bin' |" feeds it a
// pipe, "cat 'D.bin' >'fifo' &" a FIFO.
inline CliRun RunCliAfter(const TempDir& dir, const std::string& before, const std::string& args) {
  std::string out = dir.File("stdout"), err = dir.File("stderr");
  std::string command = before + " '" + TAXOSCOPE_CLI + "' " + args + " >'" + out + "' 2>'" + err + "'";
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(out), ReadFileBytes(err)};
}
