#include "report/ui_services.h"

#include <cstdio>

UiServices::~UiServices() = default;

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
