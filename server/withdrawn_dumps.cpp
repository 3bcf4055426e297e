#include "server/withdrawn_dumps.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "server/crash_point.h"
#include "server/durable_file.h"

namespace {

const char kNoteSuffix[] = ".withdrawn.json";
constexpr size_t kNoteSuffixLength = sizeof kNoteSuffix - 1;

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// Renames `from` to `to` unless `from` is gone already (moved before a kill).
bool MoveFile(const std::string& from, const std::string& to, std::string* err) {
  if (::rename(from.c_str(), to.c_str()) == 0 || errno == ENOENT) return true;
  *err = "cannot move '" + from + "' to '" + to + "': " + std::strerror(errno);
  return false;
}

}  // namespace

bool WithdrawnDumps::Withdraw(const DumpArchive& archive, const StoredDump& dump, const std::string& why,
                              const std::string& withdrawnAt, std::string* err) {
  const std::string folder = root_ + "/" + DeviceFolderName(dump.device);
  const std::string note = nlohmann::json{{"device", dump.device},
                                          {"sha256", dump.sha256},
                                          {"withdrawn_at", withdrawnAt},
                                          {"why", why}}
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                           "\n";
  if (!MakeFolder(root_, err) || !MakeFolder(folder, err) ||
      !WriteDurably(folder + "/" + dump.sha256 + kNoteSuffix, note.data(), note.size(), 0666, err))
    return false;
  CrashPoint("withdraw-noted");
  return Move(archive, dump.device, dump.sha256, err);
}

bool WithdrawnDumps::Move(const DumpArchive& archive, const std::string& device, const std::string& sha256,
                          std::string* err) {
  const std::string from = archive.FolderOf(device), to = root_ + "/" + DeviceFolderName(device);
  // The dump first: without it, its note left in dumps/ is no stored dump.
  if (!MakeFolder(to, err) || !MoveFile(from + "/" + sha256 + ".bin", to + "/" + sha256 + ".bin", err) ||
      !MoveFile(from + "/" + sha256 + ".json", to + "/" + sha256 + ".json", err) || !SyncFolder(to, err) ||
      !SyncFolder(from, err))
    return false;
  CrashPoint("withdraw-moved");
  // The device's folder goes with its last dump.
  if (::rmdir(from.c_str()) == 0) return SyncFolder(archive.root(), err);
  return true;
}

bool WithdrawnDumps::FinishMoves(const DumpArchive& archive, int* finished, std::string* err) {
  *finished = 0;
  std::vector<WithdrawnDump> withdrawn;
  if (!List(&withdrawn, err)) return false;
  for (const WithdrawnDump& dump : withdrawn) {
    if (!Exists(archive.FolderOf(dump.device) + "/" + dump.sha256 + ".bin")) continue;
    if (!Move(archive, dump.device, dump.sha256, err)) return false;
    ++*finished;
  }
  return true;
}

bool WithdrawnDumps::ReadNote(const std::string& path, WithdrawnDump* dump) const {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  if (doc.value("why", nlohmann::json()).is_string()) dump->why = doc["why"].get<std::string>();
  if (doc.value("withdrawn_at", nlohmann::json()).is_string())
    dump->withdrawnAt = doc["withdrawn_at"].get<std::string>();
  return true;
}

bool WithdrawnDumps::List(std::vector<WithdrawnDump>* withdrawn, std::string* err) const {
  withdrawn->clear();
  DIR* top = ::opendir(root_.c_str());
  if (!top) {
    if (errno == ENOENT) return true;
    *err = "cannot read the folder '" + root_ + "': " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> folders;
  while (dirent* entry = ::readdir(top)) folders.push_back(entry->d_name);
  ::closedir(top);
  std::sort(folders.begin(), folders.end());
  for (const std::string& folder : folders) {
    std::string device;
    if (!DeviceFromFolderName(folder, &device)) continue;
    DIR* inner = ::opendir((root_ + "/" + folder).c_str());
    if (!inner) continue;
    std::vector<std::string> files;
    while (dirent* entry = ::readdir(inner)) files.push_back(entry->d_name);
    ::closedir(inner);
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
      if (file.size() != 64 + kNoteSuffixLength || file.compare(64, kNoteSuffixLength, kNoteSuffix) != 0 ||
          !IsSha256Hex(file.substr(0, 64)))
        continue;
      WithdrawnDump dump;
      dump.device = device;
      dump.sha256 = file.substr(0, 64);
      // The note's name decides; a note cut off by a kill was never written
      // (it is written whole or not at all), so its text is always there.
      ReadNote(root_ + "/" + folder + "/" + file, &dump);
      withdrawn->push_back(dump);
    }
  }
  return true;
}

bool WithdrawnDumps::Find(const std::string& device, const std::string& sha256, WithdrawnDump* found) const {
  const std::string note = root_ + "/" + DeviceFolderName(device) + "/" + sha256 + kNoteSuffix;
  if (!Exists(note)) return false;
  found->device = device;
  found->sha256 = sha256;
  ReadNote(note, found);
  return true;
}
