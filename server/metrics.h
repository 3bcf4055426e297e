#pragma once
// What /metrics tells, in the Prometheus text format: requests by status,
// acknowledged uploads, the reports the ledger holds, a histogram of the
// time an upload takes from its headers to its answer, and the connections.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class ServerMetrics {
 public:
  void CountRequest(int status);
  void CountUpload(double seconds);

  // The exposition text; reportsHeld < 0 leaves that gauge out (the ledger
  // could not be read).
  std::string Text(int64_t reportsHeld) const;
  // The connections open now, and those closed at once for their address.
  static std::string ConnectionsText(int open, uint64_t refused);

 private:
  static constexpr std::array<double, 10> kBuckets = {0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

  mutable std::mutex mutex_;
  std::map<int, uint64_t> requests_;
  uint64_t uploads_ = 0;
  std::array<uint64_t, kBuckets.size()> bucketCounts_ = {};
  double uploadSeconds_ = 0;
};
