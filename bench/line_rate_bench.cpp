// How close the dump transfer comes to the line rate. The simulated device
// serves a 200 KB image at 11,520 bytes a second (115,200 baud, 10 bits a
// byte), and ReceiveDump takes it as the Read button does, over each kind of
// line:
//   BM_DumpAtLineRate/serial    the device's pseudo-terminal, opened as a port
//   BM_DumpAtLineRate/tcp       the device behind a raw TCP port on the loopback
//   BM_DumpAtLineRate/rfc2217   Debian's ser2net in front of the device's
//                               pseudo-terminal, read with RFC 2217 (skipped
//                               where ser2net is not installed)
// Reported apart:
//   line_share   image bytes / time while the image flows, as a share of the
//                line rate (goal: 0.98 or more)
//   flow_s       from the dump command to the block that brought the last byte
//   silence_s    the fixed end of the transfer: the device's silence that
//                tells the host the image is complete (a second on the
//                serial line, 4 seconds on a network line)
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/device_protocol.h"
#include "link/run_state.h"
#include "link/serial_port.h"
#include "sim/device_sim.h"
#include "sim/dump_builder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kLineRate = 11520;
constexpr size_t kImageSize = 200 * 1024;

// Notes when each message dispatch happens: ReceiveDump dispatches after every
// port read and every block, so the first long pause between two dispatches
// is the device's closing silence.
class TimingUi : public NullUi {
 public:
  void DispatchOneMessage() override { dispatched.push_back(Clock::now()); }

  std::vector<Clock::time_point> dispatched;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ser2net in front of a pseudo-terminal, with RFC 2217 on a loopback port;
// ended with SIGTERM.
class Ser2net {
 public:
  explicit Ser2net(const std::string& device) {
    const char* program = "/usr/sbin/ser2net";
    if (access(program, X_OK) != 0) return;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    int port = ntohs(address.sin_port);
    std::string config = "connection: &line#  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(port) +
                         "#  connector: serialdev," + device + ",9600n81,local";
    std::string pidFile = "/tmp/taxoscope-bench-ser2net." + std::to_string(getpid());
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      execl(program, program, "-n", "-u", "-P", pidFile.c_str(), "-Y", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    address_ = "rfc2217://127.0.0.1:" + std::to_string(port);
    // Up once it takes connections.
    for (int i = 0; i < 300; ++i) {
      int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      bool up = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      close(probe);
      if (up) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    address_.clear();
  }
  ~Ser2net() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

enum class Line { Serial, Tcp, Rfc2217 };

void BM_DumpAtLineRate(benchmark::State& state, Line kind) {
  DeviceOptions options;
  options.image = GenerateDump(GenerateOptions());
  options.image.resize(kImageSize);
  options.bytesPerSecond = kLineRate;
  std::unique_ptr<SimDevice> device;
  if (kind == Line::Tcp) {
    device = std::make_unique<TcpDevice>();
  } else {
    device = std::make_unique<PtyDevice>();
  }
  std::string error;
  if (!device->Start(options, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::string port = device->path();
  std::unique_ptr<Ser2net> server;
  if (kind == Line::Rfc2217) {
    server = std::make_unique<Ser2net>(device->path());
    if (server->address().empty()) {
      state.SkipWithError("ser2net is not installed or did not start");
      return;
    }
    port = server->address();
  }
  TimingUi ui;
  SetUi(&ui);

  double flow = 0, silence = 0, total = 0;
  for (auto _ : state) {
    std::unique_ptr<DeviceLine> line = OpenComPort(port.c_str(), 115200, &error);
    if (!line) {
      state.SkipWithError(("cannot open " + port + ": " + error).c_str());
      break;
    }
    ui.dispatched.clear();
    busyFlag = 1;
    Clock::time_point start = Clock::now();
    int32_t received = ReceiveDump(*line, nullptr, options.id.c_str());
    Clock::time_point end = Clock::now();
    busyFlag = 0;
    line.reset();
    if (received != static_cast<int32_t>(kImageSize)) {
      state.SkipWithError("the image did not arrive whole");
      break;
    }
    Clock::time_point flowEnd = end;
    for (size_t i = 1; i < ui.dispatched.size(); ++i) {
      if (ui.dispatched[i] - ui.dispatched[i - 1] >= std::chrono::milliseconds(900)) {
        flowEnd = ui.dispatched[i - 1];
        break;
      }
    }
    flow += Seconds(flowEnd - start);
    silence += Seconds(end - flowEnd);
    total += received;
    state.SetIterationTime(Seconds(end - start));
  }
  SetUi(nullptr);
  server.reset();
  device->Stop();
  if (flow <= 0) return;
  const double n = static_cast<double>(state.iterations());
  state.counters["line_share"] = total / flow / kLineRate;
  state.counters["flow_s"] = flow / n;
  state.counters["silence_s"] = silence / n;
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

BENCHMARK_CAPTURE(BM_DumpAtLineRate, serial, Line::Serial)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_DumpAtLineRate, tcp, Line::Tcp)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_DumpAtLineRate, rfc2217, Line::Rfc2217)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
