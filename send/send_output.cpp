#include "send/send_output.h"

#include <cstring>

#include "fm/dump_image.h"

SendOutput::SendOutput(const SendTarget& target, std::function<void()> onRefusedToken)
    : target_(target), onRefusedToken_(std::move(onRefusedToken)) {}

std::string SendFailureText(const std::string& dumpPath, const SendTarget& target, SendOutcome outcome,
                            const SendResult& result) {
  std::string text = "Cannot send " + dumpPath + " to " + UrlOrigin(target.url) + target.url.prefix + ": ";
  switch (outcome) {
    case SendAdded: break;
    case SendNotADump: text += result.detail; break;
    case SendTokenRefused:
      text += result.detail + (result.status == 401 ? ". The token is asked for again at the next send." : ".");
      return text;
    case SendServerError: text += "the server answered " + std::to_string(result.status) + ": " + result.detail; break;
    case SendUnreachable: text += result.detail; break;
  }
  return text + ". The dump and the report are kept; it can be sent again.";
}

bool SendOutput::Write(const std::string& dumpPath) {
  note_.clear();
  DumpBytes bytes;
  int error = 0;
  SendResult result;
  SendOutcome outcome = SendUnreachable;
  switch (LoadDumpImage(dumpPath, &bytes, &error)) {
    case DumpLoaded: {
      const std::string body(bytes.begin(), bytes.end());
      outcome = SendDump(target_, body, dumpPath, std::string(), &result);
      break;
    }
    case DumpOpenFailed:
      result.detail = std::strerror(error);
      break;
    case DumpOverCap:
      outcome = SendNotADump;
      result.detail = "longer than a fiscal-memory image";
      break;
  }
  if (outcome == SendAdded && result.refused) {
    const std::string text = "Cannot add " + dumpPath + " to the ledger of " + UrlOrigin(target_.url) +
                             target_.url.prefix + ": its reports numbered from " +
                             std::to_string(result.conflicts.empty() ? 0 : result.conflicts.front().number) +
                             " differ from those the ledger holds for the device (another register under the "
                             "same id?); nothing of it was added";
    Ui().ShowMessage(nullptr, text.c_str(), "Error", MessageIconError);
    return false;
  }
  if (outcome == SendAdded) {
    note_ = "Sent to " + UrlOrigin(target_.url) + target_.url.prefix + ": " + std::to_string(result.added) +
            " new, " + std::to_string(result.already) + " already held" +
            (result.repaired ? ", " + std::to_string(result.repaired) + " repaired" : "");
    return true;
  }
  if (outcome == SendTokenRefused && result.status == 401 && onRefusedToken_) onRefusedToken_();
  const std::string text = SendFailureText(dumpPath, target_, outcome, result);
  Ui().ShowMessage(nullptr, text.c_str(), "Error", MessageIconError);
  return false;
}

std::string SendOutput::SuccessNote(const std::string&) const { return note_; }
