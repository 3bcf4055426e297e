#include "server/collect_schedule.h"

#include <algorithm>
#include <tuple>

namespace {

constexpr int64_t kFirstRetryWaitMs = 5 * 60 * 1000;
constexpr int kRetryGrowth = 3;
constexpr int kMaxGrowthSteps = 12;  // past any window's length already

}  // namespace

int64_t RetryWaitMs(int failures) {
  int64_t wait = kFirstRetryWaitMs;
  for (int n = 1; n < std::min(failures, kMaxGrowthSteps); ++n) wait *= kRetryGrowth;
  return wait;
}

CollectSchedule::CollectSchedule(const CollectClock& clock, const CollectWindow* window, int parallel)
    : clock_(clock),
      hasWindow_(window != nullptr),
      window_(window ? *window : CollectWindow()),
      parallel_(static_cast<size_t>(std::max(parallel, 1))) {}

CollectSchedule::State* CollectSchedule::Find(const std::string& device) {
  auto found = states_.find(device);
  return found == states_.end() ? nullptr : &found->second;
}

void CollectSchedule::SetRegisters(const std::vector<ScheduledRegister>& registers) {
  for (auto& entry : states_) entry.second.listed = false;
  for (size_t i = 0; i < registers.size(); ++i) {
    State& state = states_[registers[i].device];
    state.listed = true;
    state.order = i;
    state.lineKey = registers[i].lineKey;
    if (state.lineKey.empty()) state.asked = false;
  }
  for (auto it = states_.begin(); it != states_.end();) {
    if (!it->second.listed && !running_.count(it->first))
      it = states_.erase(it);
    else
      ++it;
  }
}

WindowSpan CollectSchedule::Opening() const {
  return hasWindow_ ? CurrentOrNextWindow(window_, clock_.NowMs()) : WindowSpan();
}

void CollectSchedule::Refresh(State* state, const WindowSpan& opening) {
  if (state->openingStart == opening.startMs) return;
  state->openingStart = opening.startMs;
  state->done = false;
  state->failures = 0;
  state->nextTryMs = opening.startMs;
}

// A read that ended at atMs, for the opening it ended in (none: nothing to count).
void CollectSchedule::Count(State* state, int64_t atMs, bool ok) {
  if (!hasWindow_) return;
  const WindowSpan opening = CurrentOrNextWindow(window_, atMs);
  if (!opening.Contains(atMs)) return;
  Refresh(state, opening);
  if (ok) {
    state->done = true;
    return;
  }
  ++state->failures;
  state->nextTryMs = std::max(state->nextTryMs, atMs + RetryWaitMs(state->failures));
}

void CollectSchedule::Seed(const std::vector<PastAttempt>& attempts) {
  std::vector<PastAttempt> ordered = attempts;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const PastAttempt& a, const PastAttempt& b) { return a.atMs < b.atMs; });
  for (const PastAttempt& attempt : ordered) {
    State* state = Find(attempt.device);
    if (state && state->listed) Count(state, attempt.atMs, attempt.ok);
  }
}

AskResult CollectSchedule::Ask(const std::string& device) {
  State* state = Find(device);
  if (!state || !state->listed) return AskResult::NotListed;
  if (state->lineKey.empty()) return AskResult::NoPort;
  if (running_.count(device)) return AskResult::Running;
  state->asked = true;
  return AskResult::Queued;
}

bool CollectSchedule::LineBusy(const std::string& lineKey) const {
  for (const auto& read : running_)
    if (read.second == lineKey) return true;
  return false;
}

std::vector<DueRead> CollectSchedule::Due() {
  const int64_t now = clock_.NowMs();
  const WindowSpan opening = Opening();
  const bool open = hasWindow_ && opening.Contains(now);
  // (asked first, the turn's time, list order) for every register that may start.
  std::vector<std::tuple<int, int64_t, size_t, const std::string*>> waiting;
  for (auto& entry : states_) {
    State& state = entry.second;
    if (!state.listed || state.lineKey.empty() || running_.count(entry.first)) continue;
    if (state.asked) {
      waiting.emplace_back(0, 0, state.order, &entry.first);
      continue;
    }
    if (!open) continue;
    Refresh(&state, opening);
    if (!state.done && state.nextTryMs <= now) waiting.emplace_back(1, state.nextTryMs, state.order, &entry.first);
  }
  std::sort(waiting.begin(), waiting.end());
  std::vector<DueRead> due;
  for (const auto& candidate : waiting) {
    if (running_.size() >= parallel_) break;
    const std::string& device = *std::get<3>(candidate);
    State& state = states_[device];
    if (LineBusy(state.lineKey)) continue;
    running_[device] = state.lineKey;
    due.push_back({device, state.lineKey, state.asked});
    state.asked = false;
  }
  return due;
}

void CollectSchedule::Finished(const std::string& device, bool ok) {
  if (!running_.erase(device)) return;
  State* state = Find(device);
  if (!state) return;
  if (!state->listed) {
    states_.erase(device);
    return;
  }
  Count(state, clock_.NowMs(), ok);
}

int64_t CollectSchedule::NextWakeMs() {
  if (running_.size() >= parallel_) return INT64_MAX;
  const int64_t now = clock_.NowMs();
  const WindowSpan opening = Opening();
  int64_t best = INT64_MAX;
  for (auto& entry : states_) {
    State& state = entry.second;
    if (!state.listed || state.lineKey.empty() || running_.count(entry.first) || LineBusy(state.lineKey)) continue;
    if (state.asked) return now;
    if (!hasWindow_) continue;
    Refresh(&state, opening);
    int64_t turn = state.done ? opening.endMs : std::max(state.nextTryMs, opening.startMs);
    if (turn >= opening.endMs) turn = CurrentOrNextWindow(window_, opening.endMs).startMs;
    best = std::min(best, turn);
  }
  return best;
}

bool CollectSchedule::IsRunning(const std::string& device) const { return running_.count(device) != 0; }

bool CollectSchedule::DoneInOpening(const std::string& device) {
  State* state = Find(device);
  if (!state || !hasWindow_) return false;
  Refresh(state, Opening());
  return state->done;
}
