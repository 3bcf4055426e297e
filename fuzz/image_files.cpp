#include "fuzz/image_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "fuzz/scratch_folder.h"

namespace {

constexpr size_t kShortImage = 0;  // the key of the file for images without an area

bool WriteAt(int fd, const uint8_t* bytes, size_t count, size_t offset) {
  while (count > 0) {
    ssize_t done = pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<size_t>(done);
    offset += static_cast<size_t>(done);
  }
  return true;
}

bool Erase(int fd, size_t offset, size_t count) {
  static const std::vector<uint8_t> erased(64 * 1024, 0xFF);
  while (count > 0) {
    size_t chunk = std::min(count, erased.size());
    if (!WriteAt(fd, erased.data(), chunk, offset)) return false;
    offset += chunk;
    count -= chunk;
  }
  return true;
}

}  // namespace

ImageFiles::ImageFiles() {
  prefix_ = ScratchFolder() + "/taxoscope-dump-fuzz-" + std::to_string(getpid());
}

ImageFiles::~ImageFiles() {
  for (const auto& file : files_) {
    close(file->fd);
    unlink(file->path.c_str());
  }
}

ImageFiles::File* ImageFiles::Open(size_t wholeSize) {
  for (const auto& file : files_)
    if (file->size == wholeSize) return file.get();
  auto file = std::make_unique<File>();
  file->path = prefix_ + "-" + std::to_string(wholeSize) + ".bin";
  file->fd = open(file->path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file->fd < 0) return nullptr;
  file->size = wholeSize;
  if (!Erase(file->fd, 0, wholeSize)) {
    close(file->fd);
    return nullptr;
  }
  files_.push_back(std::move(file));
  return files_.back().get();
}

const char* ImageFiles::Write(const DumpImage& image) {
  const bool whole = image.size != image.head.size();
  File* file = Open(whole ? image.size : kShortImage);
  if (!file) return nullptr;
  if (!whole) {
    if (!WriteAt(file->fd, image.head.data(), image.head.size(), 0) ||
        ftruncate(file->fd, static_cast<off_t>(image.head.size())) != 0)
      return nullptr;
    return file->path.c_str();
  }
  for (const auto& range : file->written)
    if (!Erase(file->fd, range.first, range.second)) return nullptr;
  file->written = {{0, image.head.size()}, {image.areaOffset, image.area.size()}};
  if (!WriteAt(file->fd, image.head.data(), image.head.size(), 0) ||
      !WriteAt(file->fd, image.area.data(), image.area.size(), image.areaOffset))
    return nullptr;
  return file->path.c_str();
}
