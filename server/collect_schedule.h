#pragma once
// When the server reads which register: the rules of a night's collection,
// with no thread, line or file of its own. The collector asks it what to
// start (Due), tells it what ended (Finished), and sleeps until NextWakeMs,
// or until a read ends, a read is asked for or the registers change.
//
//   - In each opening of the window, every register with a port is read
//     once: until a read of it has ended ok within that opening.
//   - A read that failed is tried again in the same opening after a wait
//     that grows: 5, 15, 45, 135 ... minutes after the failure (a read that
//     was stopped, or cut by a kill, counts as failed). A try that would come
//     after the window's end waits for the next opening, which starts afresh.
//   - A read asked for (the API, the collect command) starts as soon as a
//     place is free, inside the window or not; asked reads go first. Its
//     outcome counts for the opening it ends in, like any read.
//   - At most `parallel` reads at once, and never two on one line (by the
//     port's line key: a device server's port reached raw and through RFC
//     2217 is one line). A read that runs on when the window closes is not
//     cut; no new one starts.
//   - A register whose port changes, or that is removed, while its read runs
//     holds its old line until the read ends.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "server/collect_clock.h"
#include "server/collect_window.h"

// A register as the schedule sees it. lineKey: PortLineKey of its port, ""
// for a register without one (never read).
struct ScheduledRegister {
  std::string device;
  std::string lineKey;
};

// An attempt recorded before this schedule began (after a restart): when it
// ended (or, cut by a kill, when it started), and whether it ended ok.
struct PastAttempt {
  std::string device;
  int64_t atMs = 0;
  bool ok = false;
};

// A read to start now.
struct DueRead {
  std::string device;
  std::string lineKey;
  bool asked = false;
};

enum class AskResult {
  Queued,     // it starts as soon as a place is free (also when it was asked already)
  Running,    // a read of it runs now
  NotListed,  // no such register
  NoPort,     // the register has no port
};

// The wait after the n-th failed try in an opening (n from 1): 5 minutes,
// then three times the wait before.
int64_t RetryWaitMs(int failures);

class CollectSchedule {
 public:
  static constexpr int kDefaultParallel = 4;

  // window null: no nightly reads, only asked ones (the collect command).
  CollectSchedule(const CollectClock& clock, const CollectWindow* window, int parallel);

  // The registers as listed now, in the order reads should start. A
  // register keeps what the schedule knows of it while it stays listed.
  void SetRegisters(const std::vector<ScheduledRegister>& registers);
  // What the store holds of earlier attempts; those that ended in the
  // current opening count as if made by this schedule. After SetRegisters.
  void Seed(const std::vector<PastAttempt>& attempts);

  AskResult Ask(const std::string& device);

  // The reads to start now, each marked running until its Finished: asked
  // ones first, then those whose turn came first, then in list order.
  std::vector<DueRead> Due();
  // A read of the device ended now. Nothing for a device not running.
  void Finished(const std::string& device, bool ok);

  // When Due may next have a read to start, by the clock alone (a retry's
  // time, the window's next opening); INT64_MAX when only a read's end or an
  // asked read can make one due.
  int64_t NextWakeMs();

  bool IsRunning(const std::string& device) const;
  size_t RunningCount() const { return running_.size(); }
  // The opening that is current or next (meaningless without a window).
  WindowSpan Opening() const;
  // Whether the register's read in the current opening has ended ok.
  bool DoneInOpening(const std::string& device);

 private:
  struct State {
    std::string lineKey;
    bool listed = true;
    size_t order = 0;
    int64_t openingStart = INT64_MIN;  // the opening the fields below belong to
    bool done = false;
    int failures = 0;
    int64_t nextTryMs = 0;
    bool asked = false;
  };
  State* Find(const std::string& device);
  // Brings a register's state to the opening at hand.
  void Refresh(State* state, const WindowSpan& opening);
  void Count(State* state, int64_t atMs, bool ok);
  bool LineBusy(const std::string& lineKey) const;

  const CollectClock& clock_;
  bool hasWindow_;
  CollectWindow window_;
  size_t parallel_;
  std::map<std::string, State> states_;
  std::map<std::string, std::string> running_;  // device -> the line it holds
};
