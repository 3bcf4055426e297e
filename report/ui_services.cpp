#include "report/ui_services.h"

#include <cstdio>

UiServices::~UiServices() = default;

namespace {

// Until a front end installs its own services: messages on stderr, and no
// dialog behind the controls.
class FallbackUi : public UiServices {
 public:
  void ShowMessage(UiWindow, const char* text, const char*, MessageIcon) override {
    std::fprintf(stderr, "%s\n", text);
  }
  void OpenFile(UiWindow, const char*) override {}
  void DispatchOneMessage() override {}
  std::string GetControlText(UiWindow, int) override { return std::string(); }
  void SetControlText(UiWindow, int, const char*) override {}
  int GetSelectedIndex(UiWindow, int) override { return -1; }
  bool IsChecked(UiWindow, int) override { return false; }
  void EnableControl(UiWindow, int, bool) override {}
  void ShowControl(UiWindow, int, bool) override {}
  void SetProgress(UiWindow, int, int) override {}
  UiWindow GetFocusWindow() override { return nullptr; }
  void SetFocusWindow(UiWindow) override {}
};

FallbackUi fallbackUi;
UiServices* currentUi = &fallbackUi;

}  // namespace

UiServices& Ui() { return *currentUi; }

void SetUi(UiServices* services) { currentUi = services ? services : &fallbackUi; }
