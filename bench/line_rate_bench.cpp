// How close the dump transfer comes to the line rate. The simulated device
// serves a 200 KB image at 11,520 bytes a second (115,200 baud, 10 bits a
// byte) on a pseudo-terminal, and ReceiveDump takes it as the Read button
// does. Reported apart:
//   line_share   image bytes / time while the image flows, as a share of the
//                line rate (goal: 0.98 or more)
//   flow_s       from the dump command to the block that brought the last byte
//   silence_s    the fixed end of the transfer: the device's second of
//                silence that tells the host the image is complete
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
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

void BM_DumpAtLineRate(benchmark::State& state) {
  DeviceOptions options;
  options.image = GenerateDump(GenerateOptions());
  options.image.resize(kImageSize);
  options.bytesPerSecond = kLineRate;
  PtyDevice device;
  std::string error;
  if (!device.Start(options, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  TimingUi ui;
  SetUi(&ui);

  double flow = 0, silence = 0, total = 0;
  for (auto _ : state) {
    PortHandle port = OpenComPort(device.path().c_str(), 115200);
    if (port == kInvalidPort) {
      state.SkipWithError("cannot open the simulator's terminal");
      break;
    }
    ui.dispatched.clear();
    busyFlag = 1;
    Clock::time_point start = Clock::now();
    int32_t received = ReceiveDump(port, nullptr, options.id.c_str());
    Clock::time_point end = Clock::now();
    busyFlag = 0;
    SerialClose(port);
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
  device.Stop();
  if (flow <= 0) return;
  const double n = static_cast<double>(state.iterations());
  state.counters["line_share"] = total / flow / kLineRate;
  state.counters["flow_s"] = flow / n;
  state.counters["silence_s"] = silence / n;
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

BENCHMARK(BM_DumpAtLineRate)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
