#pragma once
// Sending as one more output of a report run (the Windows program's "send"
// check box): after the report, the whole dump goes to the taxoscope-server
// of the settings, whatever the run's filter. A failure shows its message
// (caption "Error", error icon, no owner) like a report that cannot be
// written; the dump and the report are written already and stay, and the
// dump can be sent again later: the same bytes count nothing twice.
#include <functional>
#include <string>

#include "report/report_run.h"
#include "send/dump_sender.h"

class SendOutput : public ReportOutput {
 public:
  // onRefusedToken: called when the server refuses the token (401), so the
  // front end can forget it and ask for it at the next send.
  SendOutput(const SendTarget& target, std::function<void()> onRefusedToken = nullptr);

  bool Write(const std::string& dumpPath) override;
  // "Sent to URL: N new, M already held" for the success box.
  std::string SuccessNote(const std::string& dumpPath) const override;

 private:
  SendTarget target_;
  std::function<void()> onRefusedToken_;
  std::string note_;
};

// The message of a send that failed, as the box shows it.
std::string SendFailureText(const std::string& dumpPath, const SendTarget& target, SendOutcome outcome,
                            const SendResult& result);
