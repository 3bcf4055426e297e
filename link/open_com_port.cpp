// OpenComPort: the port name chooses the kind of line.
#include <string>

#include "link/line_address.h"
#include "link/rfc2217_line.h"
#include "link/serial_line.h"
#include "link/serial_port.h"
#include "link/tcp_line.h"

namespace {

// A device server's port: connected, negotiated for RFC 2217, and quiet
// before the device is asked anything.
std::unique_ptr<DeviceLine> OpenNetworkLine(const LineAddress& address, uint32_t baud,
                                            const StopCheck& stop, std::string* why) {
  std::unique_ptr<TcpLine> connection = TcpLine::Connect(address.host, address.port, why, stop);
  if (!connection) return nullptr;
  if (address.kind == LineKind::Tcp) {
    if (!connection->AwaitQuiet(stop, why)) return nullptr;
    return connection;
  }
  std::unique_ptr<Rfc2217Line> line = Rfc2217Line::Open(std::move(connection), baud, why, stop);
  if (!line || !line->AwaitQuiet(stop, why)) return nullptr;
  return line;
}

}  // namespace

std::unique_ptr<DeviceLine> OpenComPort(const char* portName, uint32_t baud, std::string* why,
                                        const StopCheck& stop) {
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
  std::unique_ptr<DeviceLine> line = OpenNetworkLine(address, baud, stop, &reason);
  if (!line && why) *why = std::string(portName) + ": " + reason;
  return line;
}
