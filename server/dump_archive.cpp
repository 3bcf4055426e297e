#include "server/dump_archive.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "server/durable_file.h"

namespace {

bool IsPlain(unsigned char c) { return std::isalnum(c) || c == '_' || c == '-'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool MakeFolder(const std::string& folder, std::string* err) {
  if (::mkdir(folder.c_str(), 0750) == 0) return SyncFolder(ParentOf(folder), err);
  if (errno == EEXIST) return true;
  *err = "cannot make the folder '" + folder + "': " + std::strerror(errno);
  return false;
}

std::string DeviceFolderName(const std::string& device) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  for (char c : device) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (IsPlain(byte)) {
      name += c;
    } else {
      name += '%';
      name += kHex[byte >> 4];
      name += kHex[byte & 15];
    }
  }
  return name;
}

bool DeviceFromFolderName(const std::string& folder, std::string* device) {
  device->clear();
  if (folder.empty()) return false;
  for (size_t i = 0; i < folder.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(folder[i]);
    if (IsPlain(c)) {
      *device += folder[i];
      continue;
    }
    if (c != '%' || i + 2 >= folder.size()) return false;
    int high = HexValue(folder[i + 1]), low = HexValue(folder[i + 2]);
    unsigned char byte = static_cast<unsigned char>(high * 16 + low);
    // Only the spelling DeviceFolderName gives: a plain byte is never %XX.
    if (high < 0 || low < 0 || IsPlain(byte)) return false;
    *device += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

bool DumpArchive::Prepare(std::string* err) { return MakeFolder(root_, err); }

bool DumpArchive::Store(const std::string& device, const std::string& sha256, const std::vector<uint8_t>& bytes,
                        const std::string& name, const std::string& addedAt, StoredDump* stored,
                        std::string* err, bool* written) {
  if (written) *written = false;
  const std::string folder = FolderOf(device);
  stored->device = device;
  stored->sha256 = sha256;
  stored->path = folder + "/" + sha256 + ".bin";
  if (Exists(stored->path)) {
    if (!ReadSidecar(folder + "/" + sha256 + ".json", stored)) stored->name = name, stored->addedAt = addedAt;
    return true;
  }
  stored->name = name;
  stored->addedAt = addedAt;
  stored->receivedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const std::string sidecar = nlohmann::json{{"device", device},
                                             {"name", name},
                                             {"added_at", addedAt},
                                             {"received_ns", stored->receivedNs}}
                                  .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                              "\n";
  // The description first: a .bin is only ever there with its .json.
  if (!MakeFolder(folder, err) ||
      !WriteDurably(folder + "/" + sha256 + ".json", sidecar.data(), sidecar.size(), 0666, err))
    return false;
  if (!WriteDurably(stored->path, reinterpret_cast<const char*>(bytes.data()), bytes.size(), 0666, err)) {
    ::unlink((folder + "/" + sha256 + ".json").c_str());
    return false;
  }
  if (written) *written = true;
  return true;
}

bool DumpArchive::TakeBack(const StoredDump& stored, std::string* err) {
  const std::string folder = FolderOf(stored.device);
  // The dump first: a note without its dump is no stored dump.
  for (const std::string& file : {stored.path, folder + "/" + stored.sha256 + ".json"}) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
      *err = "cannot remove '" + file + "': " + std::strerror(errno);
      return false;
    }
  }
  if (!SyncFolder(folder, err)) return false;
  // The device's folder goes with its last dump (one with others stays).
  if (::rmdir(folder.c_str()) == 0) return SyncFolder(root_, err);
  return true;
}

bool DumpArchive::Find(const std::string& sha256, std::vector<StoredDump>* found, std::string* err) const {
  found->clear();
  std::vector<StoredDump> all;
  std::vector<std::string> skipped;
  if (!List(&all, &skipped, err)) return false;
  for (const StoredDump& dump : all)
    if (dump.sha256 == sha256) found->push_back(dump);
  return true;
}

bool DumpArchive::ReadSidecar(const std::string& path, StoredDump* dump) const {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  if (doc.value("name", nlohmann::json()).is_string()) dump->name = doc["name"].get<std::string>();
  if (doc.value("added_at", nlohmann::json()).is_string()) dump->addedAt = doc["added_at"].get<std::string>();
  if (doc.value("received_ns", nlohmann::json()).is_number_integer())
    dump->receivedNs = doc["received_ns"].get<int64_t>();
  return true;
}

bool DumpArchive::List(std::vector<StoredDump>* dumps, std::vector<std::string>* skipped, std::string* err) const {
  dumps->clear();
  DIR* top = ::opendir(root_.c_str());
  if (!top) {
    if (errno == ENOENT) return true;
    *err = "cannot read the folder '" + root_ + "': " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> folders;
  while (dirent* entry = ::readdir(top)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") folders.push_back(name);
  }
  ::closedir(top);
  std::sort(folders.begin(), folders.end());
  for (const std::string& folder : folders) {
    std::string device, path = root_ + "/" + folder;
    if (!DeviceFromFolderName(folder, &device) || !ListFolder(path, device, dumps, skipped)) skipped->push_back(path);
  }
  std::stable_sort(dumps->begin(), dumps->end(),
                   [](const StoredDump& a, const StoredDump& b) { return a.receivedNs < b.receivedNs; });
  return true;
}

bool DumpArchive::ListFolder(const std::string& path, const std::string& device, std::vector<StoredDump>* dumps,
                             std::vector<std::string>* skipped) const {
  DIR* inner = ::opendir(path.c_str());
  if (!inner) return false;
  std::vector<std::string> files;
  while (dirent* entry = ::readdir(inner)) files.push_back(entry->d_name);
  ::closedir(inner);
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    if (file == "." || file == "..") continue;
    const bool bin = file.size() == 68 && file.compare(64, 4, ".bin") == 0 && IsSha256Hex(file.substr(0, 64));
    const bool json = file.size() == 69 && file.compare(64, 5, ".json") == 0 && IsSha256Hex(file.substr(0, 64));
    if (json) continue;
    if (!bin) {
      // Temporaries of a write that was cut off are no dump; anything else is named.
      if (file.compare(0, 4, ".txs") != 0) skipped->push_back(path + "/" + file);
      continue;
    }
    StoredDump dump;
    dump.device = device;
    dump.sha256 = file.substr(0, 64);
    dump.path = path + "/" + file;
    dump.name = device + ".bin";
    if (!ReadSidecar(path + "/" + dump.sha256 + ".json", &dump)) {
      struct stat info;
      if (::stat(dump.path.c_str(), &info) == 0)
        dump.receivedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    dumps->push_back(dump);
  }
  return true;
}

bool DumpArchive::Count(const std::string& device, int64_t* count, std::string* err) const {
  *count = 0;
  const std::string path = root_ + "/" + DeviceFolderName(device);
  DIR* folder = ::opendir(path.c_str());
  if (!folder) {
    if (errno == ENOENT) return true;
    *err = "cannot read the folder '" + path + "': " + std::strerror(errno);
    return false;
  }
  while (dirent* entry = ::readdir(folder)) {
    std::string file = entry->d_name;
    *count += file.size() == 68 && file.compare(64, 4, ".bin") == 0;
  }
  ::closedir(folder);
  return true;
}
