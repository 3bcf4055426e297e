#pragma once
// Where the targets keep their files: $TMPDIR when set, else /dev/shm where
// there is one (files in memory: on a disk file system every replacement by
// rename would wait for a write-back), else /tmp.
#include <string>

std::string ScratchFolder();
