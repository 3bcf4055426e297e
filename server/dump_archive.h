#pragma once
// dumps/ in the state folder: every dump the server acknowledged, byte for
// byte, as dumps/DEVICE/SHA256.bin, with SHA256.json beside it (the name it
// was sent under, when it was added, and the order of receipt). The ledger
// can be made again from this folder alone.
//
// A device id is text from the network: its folder name spells every byte
// other than an ASCII letter, digit, '_' or '-' as %XX, so no id ("..",
// "../../etc/passwd", "a/b") names a folder other than its own inside dumps/.
#include <cstdint>
#include <string>
#include <vector>

// The folder name of a device, and back (false for a name that is not one).
std::string DeviceFolderName(const std::string& device);
bool DeviceFromFolderName(const std::string& folder, std::string* device);

// Makes a folder (mode 750) and puts its entry on the disk; one there is fine.
bool MakeFolder(const std::string& folder, std::string* err);
// Whether the text is a SHA-256 as the archive names files: 64 lower-case hex digits.
bool IsSha256Hex(const std::string& text);

struct StoredDump {
  std::string device;
  std::string sha256;
  std::string path;      // of the .bin
  std::string name;      // as sent
  std::string addedAt;   // UTC, as the ledger records it
  int64_t receivedNs = 0;  // nanoseconds since 1970: the order of receipt
};

class DumpArchive {
 public:
  explicit DumpArchive(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  // Creates the folder (and its parent's entry on the disk) when missing.
  bool Prepare(std::string* err);
  // Puts the bytes on the disk under the device and their SHA-256 unless
  // they are there already (then *stored describes the first copy): each
  // file written to a temporary name, synced, renamed, the folder synced.
  // *written (when given) says whether the files were written now.
  bool Store(const std::string& device, const std::string& sha256, const std::vector<uint8_t>& bytes,
             const std::string& name, const std::string& addedAt, StoredDump* stored, std::string* err,
             bool* written = nullptr);
  // Takes back what Store wrote now (the add that should follow failed): the
  // dump and its note leave the disk, and the device's folder when empty.
  bool TakeBack(const StoredDump& stored, std::string* err);
  // The stored dumps with these bytes, of any device.
  bool Find(const std::string& sha256, std::vector<StoredDump>* found, std::string* err) const;
  // The folder of a device's dumps.
  std::string FolderOf(const std::string& device) const { return root_ + "/" + DeviceFolderName(device); }
  // Every stored dump in the order of receipt; files that are no stored
  // dump are named in *skipped.
  bool List(std::vector<StoredDump>* dumps, std::vector<std::string>* skipped, std::string* err) const;
  // How many dumps each device folder holds.
  bool Count(const std::string& device, int64_t* count, std::string* err) const;

 private:
  bool ReadSidecar(const std::string& path, StoredDump* dump) const;
  bool ListFolder(const std::string& folder, const std::string& device, std::vector<StoredDump>* dumps,
                  std::vector<std::string>* skipped) const;

  std::string root_;
};
