// Reading a whole input into memory: standard input for dxftext, and the files that
// tests, benchmarks and fuzz replays hand to the in-memory stream.
#ifndef WQHOST_READ_ALL_HPP
#define WQHOST_READ_ALL_HPP

#include <cstdint>
#include <cstdio>
#include <string>

namespace wqhost {

// Appends what `in` holds, up to `limit` bytes (stopping once more than `limit` have come,
// so the caller can tell "too large"), to *out. False on a read error; what was read stays.
bool readAll(std::FILE* in, std::string* out, int64_t limit = INT64_MAX);
// The whole file at `path` in *out (replaced). False when it cannot be opened or read.
bool readFile(const std::string& path, std::string* out);

}  // namespace wqhost

#endif
