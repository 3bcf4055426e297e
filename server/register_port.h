#pragma once
// The port of a register the office reads: the address of a serial device
// server (tcp://HOST:PORT, rfc2217://HOST:PORT) or a port of the office's own
// machine (/dev/ttyS0, ttyUSB0, COM1), as `taxoscope-cli read --port` takes it.
#include <string>

// False, with what is wrong and the accepted forms, for text that is no such
// port: a malformed address, a scheme other than tcp:// and rfc2217://
// (telnet://box:2001, tcp:/box:2001), blanks around it, control characters.
bool CheckRegisterPort(const std::string& port, std::string* problem);

// The line a port reaches, the same for every spelling of it, so that two
// reads never share one: a device server's port is one line whether it is
// reached raw or through RFC 2217, by a name in any letter case or an IPv6
// address written in any of its forms ("net:box.office.lan:4001",
// "net:[fe80::1%eth0]:2217"); a local port is its device file, symbolic links
// (/dev/serial/by-id/...) followed where they exist ("local:/dev/ttyUSB0").
// Names are not looked up: two names of one address are two lines here.
std::string PortLineKey(const std::string& port);
