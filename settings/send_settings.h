#pragma once
// Where the "send" box sends: the keys "Server" (the server's URL) and
// "Token" of section "main". The token is kept sealed for the user (on
// Windows by the data protection API: token_vault_win32.cpp), never as
// it is; "Send" itself (0 or 1) is the box's state, kept with the others.
#include <string>

struct SendSettings {
  std::string server;       // "" until one is entered
  std::string sealedToken;  // "" until one is entered, or after the server refused it
};

SendSettings ReadSendSettings(const char* iniPath);
// False when the file could not be written (the settings are then not kept).
bool WriteSendSettings(const char* iniPath, const SendSettings& settings);
