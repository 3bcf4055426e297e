#pragma once
// How one read of a register by the server ended. Every attempt is recorded
// with one of these; the names are the store's, the API's and the metrics'.
#include <string>

enum class ReadOutcome {
  Ok,             // the image was stored and added to the ledger
  NoConnection,   // the port could not be opened or connected
  NoAnswer,       // the line opened, the register did not answer the identify
  BadReceipt,     // the register answered with bytes that are no identify reply
  Refused,        // the device server refused or closed the connection, or the register refused the dump
  LineFailed,     // the line failed during the transfer
  CutImage,       // the image came short (cut inside a record, or shorter than the stored dump)
  WrongRegister,  // the identify named another device id: another register is cabled there
  NotADump,       // the bytes are no dump of this device family
  LedgerRefused,  // stored, but the ledger refused it whole: it disagrees with what it holds
  Stopped,        // the server was stopped (or killed) during the read
};
constexpr int kReadOutcomeCount = 11;

// "ok", "no-connection", ... as listed above.
const char* ReadOutcomeName(ReadOutcome outcome);
bool ParseReadOutcome(const std::string& name, ReadOutcome* outcome);
// What the outcome means, in a few words for the office.
const char* ReadOutcomeMeaning(ReadOutcome outcome);
