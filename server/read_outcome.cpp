#include "server/read_outcome.h"

namespace {

struct OutcomeText {
  ReadOutcome outcome;
  const char* name;
  const char* meaning;
};

const OutcomeText kOutcomes[kReadOutcomeCount] = {
    {ReadOutcome::Ok, "ok", "read whole, stored and added to the ledger"},
    {ReadOutcome::NoConnection, "no-connection", "the port could not be opened: the box is off, unplugged or at another address"},
    {ReadOutcome::NoAnswer, "no-answer", "the line opened, but the register did not answer: it is off, or not on that line"},
    {ReadOutcome::BadReceipt, "bad-receipt", "the register's answer was not understood: a wrong speed, or another device on the line"},
    {ReadOutcome::Refused, "refused", "the device server or the register refused the read: the port is busy or set up otherwise"},
    {ReadOutcome::LineFailed, "line-failed", "the line failed during the transfer; nothing was stored"},
    {ReadOutcome::CutImage, "cut-image", "the image came short; the earlier dump stays, the bytes are kept aside"},
    {ReadOutcome::WrongRegister, "wrong-register", "another register answered on this port; nothing was stored"},
    {ReadOutcome::NotADump, "not-a-dump", "the bytes received are no dump of this device family; nothing was stored"},
    {ReadOutcome::LedgerRefused, "ledger-refused", "the dump was kept, but it disagrees with the ledger, which refused it"},
    {ReadOutcome::Stopped, "stopped", "the server stopped during the read; nothing was stored"},
};

}  // namespace

const char* ReadOutcomeName(ReadOutcome outcome) { return kOutcomes[static_cast<int>(outcome)].name; }

const char* ReadOutcomeMeaning(ReadOutcome outcome) { return kOutcomes[static_cast<int>(outcome)].meaning; }

bool ParseReadOutcome(const std::string& name, ReadOutcome* outcome) {
  for (const OutcomeText& text : kOutcomes) {
    if (name == text.name) {
      *outcome = text.outcome;
      return true;
    }
  }
  return false;
}
