// OpenComPort: the port name chooses the kind of line.
#include <string>

#include "link/line_address.h"
#include "link/rfc2217_line.h"
#include "link/serial_line.h"
#include "link/serial_port.h"
#include "link/tcp_line.h"

std::unique_ptr<DeviceLine> OpenComPort(const char* portName, uint32_t baud, std::string* why) {
  if (why) why->clear();
  if (LineKindOf(portName) == LineKind::Serial) {
    for (const std::string& path : SerialPortPaths(portName)) {
      std::unique_ptr<DeviceLine> line = OpenSerialLine(path.c_str(), baud);
      if (line) return line;
    }
    return nullptr;
  }

  LineAddress address;
  if (!ParseLineAddress(portName, &address, why)) return nullptr;
  std::string reason;
  std::unique_ptr<TcpLine> connection = TcpLine::Connect(address.host, address.port, &reason);
  std::unique_ptr<DeviceLine> line;
  if (connection && address.kind == LineKind::Rfc2217) {
    line = Rfc2217Line::Open(std::move(connection), baud, &reason);
  } else {
    line = std::move(connection);
  }
  if (!line && why) *why = std::string(portName) + ": " + reason;
  return line;
}
