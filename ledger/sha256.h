#pragma once
// SHA-256 of a file, to recognise a dump that was added before.
#include <cstdint>
#include <string>

// The digest as 64 lower-case hex digits and the file's size; false with the
// system's reason in *err when the file cannot be read.
bool FileSha256(const std::string& path, std::string* hex, int64_t* size, std::string* err);

// The digest of bytes in memory, as hex.
std::string Sha256Hex(const void* bytes, size_t size);
// The same by the portable code alone, whatever the processor offers (the
// processor's SHA instructions are used where it has them).
std::string Sha256HexPortable(const void* bytes, size_t size);
