#pragma once
// The options of one taxoscope-sim command: "--name VALUE" or "--name=VALUE",
// and bare flags. Usage errors are printed as "taxoscope-sim COMMAND: ...".
#include <cstdint>
#include <string>

class CommandArgs {
 public:
  CommandArgs(const char* command, int argc, char** argv);

  // Moves to the next option and gives its name ("--out"); false at the end
  // or after a usage error.
  bool Next(std::string* name);
  // The current option's value, from "=VALUE" or the next argument.
  bool Value(std::string* value);
  // The value as a decimal number from min to max.
  bool Number(uint64_t min, uint64_t max, uint64_t* value);
  // The current option must be a bare flag.
  bool Flag();
  // Prints a usage error; always false, and failed() is true from then on.
  bool Fail(const std::string& message);
  bool failed() const { return failed_; }

 private:
  const char* command_;
  int argc_;
  char** argv_;
  int next_ = 0;
  std::string name_;
  bool hasInlineValue_ = false;
  std::string inlineValue_;
  bool failed_ = false;
};

// Prints "taxoscope-sim COMMAND: message" and gives the status for it.
int Failure(const char* command, const std::string& message);
