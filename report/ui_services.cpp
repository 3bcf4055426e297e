#include "report/ui_services.h"

#include <cstdio>

UiServices::~UiServices() = default;

void UiServices::ShowInvalidBound(UiWindow owner, const char* which, const std::string&) {
  const std::string text = std::string("Invalid input value \"") + which + "\"";
  ShowMessage(owner, text.c_str(), nullptr, MessageIconNone);
}

void UiServices::ShowFileError(const std::string&, const std::string& reason) {
  ShowMessage(nullptr, reason.c_str(), "Error", MessageIconError);
}

void UiServices::ShowDumpUnreadable(UiWindow owner, const std::string&, int) {
  ShowMessage(owner, "Error parsing data", nullptr, MessageIconError);
}

namespace {

// Until a front end installs its own services: messages on stderr, and no
// dialog behind the controls.
class FallbackUi : public NullUi {
 public:
  void ShowMessage(UiWindow, const char* text, const char*, MessageIcon) override {
    std::fprintf(stderr, "%s\n", text);
  }
};

FallbackUi fallbackUi;
UiServices* currentUi = &fallbackUi;

}  // namespace

UiServices& Ui() { return *currentUi; }

void SetUi(UiServices* services) { currentUi = services ? services : &fallbackUi; }
