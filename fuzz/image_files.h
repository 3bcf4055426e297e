#pragma once
// Dump images on disk for a reader that opens files by name. An erased image
// of a given size is written whole once; after that only the ranges that
// changed are rewritten, so a 2 MB image costs a few kilobytes of writing per
// execution. Images that end after their record part go to a small file of
// their own. The files are removed when the object goes.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/dump_input.h"

class ImageFiles {
 public:
  ImageFiles();
  ~ImageFiles();
  ImageFiles(const ImageFiles&) = delete;
  ImageFiles& operator=(const ImageFiles&) = delete;

  // Makes a file hold exactly the image; gives its path (null on failure).
  const char* Write(const DumpImage& image);

 private:
  struct File {
    std::string path;
    int fd = -1;
    size_t size = 0;
    std::vector<std::pair<size_t, size_t>> written;  // ranges that are not erased now
  };
  File* Open(size_t wholeSize);

  std::string prefix_;
  std::vector<std::unique_ptr<File>> files_;
};
