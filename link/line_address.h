#pragma once
// The port name of a read as the user types it, in the dialog's port box or
// after --port. A serial device server on the network is named by an address:
//   tcp://HOST:PORT       a raw TCP connection: its bytes are the line's
//   rfc2217://HOST:PORT   Telnet with the COM-PORT-OPTION (RFC 2217), which
//                         also sets the server's line
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// (rfc2217://[fe80::1%eth0]:2217); PORT is a number from 1 to 65535. The
// scheme's letter case does not matter. A name that is meant as a network
// address but not written as one (another scheme such as telnet://, tcp:/ with
// one slash, blanks around an address) is malformed, never a local port. Any
// other name is a local port.
#include <cstdint>
#include <string>

enum class LineKind { Serial, Tcp, Rfc2217, Malformed };

struct LineAddress {
  LineKind kind = LineKind::Serial;
  std::string host;  // without the brackets of an IPv6 address
  uint16_t port = 0;
};

// The kind a port name asks for, by its scheme alone.
LineKind LineKindOf(const std::string& name);

// Parses a tcp:// or rfc2217:// address. False, with *error saying what is
// wrong and how it is written, for any other text; for a malformed one it
// also shows the forms accepted.
bool ParseLineAddress(const std::string& name, LineAddress* address, std::string* error);

// "HOST:PORT" with an IPv6 host in brackets, as in an address.
std::string HostAndPort(const std::string& host, uint16_t port);
