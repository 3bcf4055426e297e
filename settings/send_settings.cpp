#include "settings/send_settings.h"

#include "settings/settings_store.h"

namespace {

const char kSection[] = "main";

}  // namespace

SendSettings ReadSendSettings(const char* iniPath) {
  SendSettings settings;
  settings.server = ReadSetting(iniPath, kSection, "Server", "");
  settings.sealedToken = ReadSetting(iniPath, kSection, "Token", "");
  return settings;
}

bool WriteSendSettings(const char* iniPath, const SendSettings& settings) {
  const bool server = WriteSetting(iniPath, kSection, "Server", settings.server.c_str());
  const bool token = WriteSetting(iniPath, kSection, "Token", settings.sealedToken.c_str());
  return server && token;
}
