#include "server/metrics.h"

#include <cstdio>

constexpr std::array<double, 10> ServerMetrics::kBuckets;

void ServerMetrics::CountRequest(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requests_[status];
}

void ServerMetrics::CountUpload(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++uploads_;
  uploadSeconds_ += seconds;
  for (size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++bucketCounts_[i];
}

std::string ServerMetrics::Text(int64_t reportsHeld) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  char line[160];
  text += "# HELP taxoscope_http_requests_total HTTP requests answered, by status.\n"
          "# TYPE taxoscope_http_requests_total counter\n";
  for (const auto& entry : requests_) {
    std::snprintf(line, sizeof line, "taxoscope_http_requests_total{code=\"%d\"} %llu\n", entry.first,
                  static_cast<unsigned long long>(entry.second));
    text += line;
  }
  text += "# HELP taxoscope_uploads_total Dumps received, stored and added to the ledger.\n"
          "# TYPE taxoscope_uploads_total counter\n";
  text += "taxoscope_uploads_total " + std::to_string(uploads_) + "\n";
  if (reportsHeld >= 0) {
    text += "# HELP taxoscope_reports_held Daily reports the ledger holds.\n"
            "# TYPE taxoscope_reports_held gauge\n";
    text += "taxoscope_reports_held " + std::to_string(reportsHeld) + "\n";
  }
  text += "# HELP taxoscope_upload_duration_seconds Time from an upload's headers to its answer.\n"
          "# TYPE taxoscope_upload_duration_seconds histogram\n";
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    std::snprintf(line, sizeof line, "taxoscope_upload_duration_seconds_bucket{le=\"%g\"} %llu\n", kBuckets[i],
                  static_cast<unsigned long long>(bucketCounts_[i]));
    text += line;
  }
  text += "taxoscope_upload_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(uploads_) + "\n";
  std::snprintf(line, sizeof line, "taxoscope_upload_duration_seconds_sum %.6f\n", uploadSeconds_);
  text += line;
  text += "taxoscope_upload_duration_seconds_count " + std::to_string(uploads_) + "\n";
  return text;
}

std::string ServerMetrics::ConnectionsText(int open, uint64_t refused) {
  return "# HELP taxoscope_connections_open Client connections open.\n"
         "# TYPE taxoscope_connections_open gauge\n"
         "taxoscope_connections_open " + std::to_string(open) + "\n"
         "# HELP taxoscope_connections_refused_total Connections closed at once: too many from their address.\n"
         "# TYPE taxoscope_connections_refused_total counter\n"
         "taxoscope_connections_refused_total " + std::to_string(refused) + "\n";
}
