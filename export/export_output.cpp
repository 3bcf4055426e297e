#include "export/export_output.h"

ExportOutput::ExportOutput(const char* extension, bool opensInViewer)
    : extension_(extension), opensInViewer_(opensInViewer) {}

void ExportOutput::Begin(const ReportRequest& request) {
  text_.clear();
  dumpPath_ = request.dumpPath;
  filter_.type = request.reportType;
  filter_.from = request.reportType == ReportAll ? std::string() : request.fromText;
  filter_.to = request.reportType == ReportAll ? std::string() : request.toText;
}

bool ExportOutput::Write(const std::string& dumpPath) {
  std::string name = dumpPath + extension_;
  return WriteBufferToFile(name.c_str(), text_.data(), static_cast<int64_t>(text_.size()));
}

std::string ExportOutput::ViewPath(const std::string& dumpPath) const {
  return opensInViewer_ ? dumpPath + extension_ : std::string();
}
