#include "report/file_system.h"

FileSystem::~FileSystem() = default;

namespace {

FileSystem* installed = nullptr;

}  // namespace

FileSystem& Files() { return installed ? *installed : PlatformFiles(); }

void SetFiles(FileSystem* files) { installed = files; }
