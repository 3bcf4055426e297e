#include "app/send_box.h"

#include "app/token_vault.h"
#include "res/resource.h"
#include "send/send_output.h"
#include "settings/send_settings.h"

namespace {

std::string ItemText(HWND dialog, int id) {
  char text[2048] = "";
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

struct AskState {
  const char* iniPath;
};

INT_PTR CALLBACK AskProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      const AskState* state = reinterpret_cast<const AskState*>(lParam);
      SetDlgItemTextA(dialog, IDC_SEND_URL, ReadSendSettings(state->iniPath).server.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK) {
        const AskState* state = reinterpret_cast<const AskState*>(GetWindowLongPtrA(dialog, DWLP_USER));
        SendSettings settings;
        settings.server = ItemText(dialog, IDC_SEND_URL);
        const std::string token = ItemText(dialog, IDC_SEND_TOKEN);
        ServerUrl url;
        std::string problem;
        if (!ParseServerUrl(settings.server, &url, &problem)) {
          Ui().ShowMessage(dialog, problem.c_str(), nullptr, MessageIconError);
          return TRUE;
        }
        if (token.find_first_not_of(" \t") == std::string::npos) {
          Ui().ShowMessage(dialog, "Enter the token the server's administrator gave for this shop.", nullptr,
                           MessageIconError);
          return TRUE;
        }
        if (!SealToken(token, &settings.sealedToken)) {
          Ui().ShowMessage(dialog, "Windows cannot keep the token for this user.", nullptr, MessageIconError);
          return TRUE;
        }
        WriteSendSettings(state->iniPath, settings);
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

// An output that only says why nothing can be sent.
class NoSendTarget : public ReportOutput {
 public:
  explicit NoSendTarget(std::string reason) : reason_(std::move(reason)) {}
  bool Write(const std::string& dumpPath) override {
    const std::string text = "Cannot send " + dumpPath + ": " + reason_ +
                             ". Check \"send\" again to enter the server and the token.";
    Ui().ShowMessage(nullptr, text.c_str(), "Error", MessageIconError);
    return false;
  }

 private:
  std::string reason_;
};

}  // namespace

bool AskForServerAndToken(HWND owner, const char* iniPath) {
  AskState state{iniPath};
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SEND_SERVER), owner, AskProc,
                         reinterpret_cast<LPARAM>(&state)) == IDOK;
}

bool HasServerAndToken(const char* iniPath) {
  const SendSettings settings = ReadSendSettings(iniPath);
  ServerUrl url;
  std::string token, problem;
  return ParseServerUrl(settings.server, &url, &problem) && UnsealToken(settings.sealedToken, &token);
}

std::unique_ptr<ReportOutput> MakeSendOutput(const char* iniPath) {
  SendSettings settings = ReadSendSettings(iniPath);
  SendTarget target;
  std::string problem;
  if (!ParseServerUrl(settings.server, &target.url, &problem)) return std::make_unique<NoSendTarget>(problem);
  if (!UnsealToken(settings.sealedToken, &target.token))
    return std::make_unique<NoSendTarget>("no token is kept for this Windows user");
  const std::string path = iniPath;
  // A token the server refused is forgotten, so that it is asked for again.
  return std::make_unique<SendOutput>(target, [path] {
    SendSettings kept = ReadSendSettings(path.c_str());
    kept.sealedToken.clear();
    WriteSendSettings(path.c_str(), kept);
  });
}
