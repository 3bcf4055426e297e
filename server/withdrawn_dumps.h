#pragma once
// withdrawn/ in the state folder: the dumps the office took back (sent under
// the wrong register id, a wrong file), kept beside the reason:
//   withdrawn/DEVICE/SHA256.bin, SHA256.json   the dump and its note, as they were in dumps/
//   withdrawn/DEVICE/SHA256.withdrawn.json     {"device", "sha256", "withdrawn_at", "why"}
// A withdrawal is decided when its note is on the disk; the dump then moves
// out of dumps/ (a rename within the state folder), and the ledger takes it
// back. A process killed between these steps leaves a note whose dump may
// still be in dumps/ and in the ledger: the next start (or rebuild) finishes
// the move, and the server's start the ledger's part, so a withdrawn dump is
// never added again.
#include <string>
#include <vector>

#include "server/dump_archive.h"

struct WithdrawnDump {
  std::string device, sha256;
  std::string why;
  std::string withdrawnAt;  // UTC, as the ledger writes times
};

class WithdrawnDumps {
 public:
  explicit WithdrawnDumps(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  // Notes the withdrawal of a stored dump and moves it (and its note) out of
  // dumps/ into withdrawn/.
  bool Withdraw(const DumpArchive& archive, const StoredDump& dump, const std::string& why,
                const std::string& withdrawnAt, std::string* err);
  // Moves out of dumps/ every dump whose withdrawal is noted but was cut off
  // before its move; *finished counts them.
  bool FinishMoves(const DumpArchive& archive, int* finished, std::string* err);
  // Every noted withdrawal, by device and SHA-256.
  bool List(std::vector<WithdrawnDump>* withdrawn, std::string* err) const;
  // The withdrawal of these bytes of the device, if there is one.
  bool Find(const std::string& device, const std::string& sha256, WithdrawnDump* found) const;

 private:
  bool ReadNote(const std::string& path, WithdrawnDump* dump) const;
  bool Move(const DumpArchive& archive, const std::string& device, const std::string& sha256, std::string* err);

  std::string root_;
};
