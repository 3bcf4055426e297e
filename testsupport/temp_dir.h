#pragma once
// A fresh directory for one test, removed with everything in it afterwards.
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with a file name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole-file helpers for tests; ReadFileBytes gives "" for a missing file,
// so check FileExists where the difference matters.
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
