#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A .tar.gz archive built in memory: regular files only, each with its name (at most 99 bytes,
// '/' between folders), its bytes, mode 0600 and a modification time. The archive is a POSIX ustar
// stream compressed as one gzip member, which tar, file managers and archive libraries all read.
struct TarEntry {
  std::string name;
  std::string data;
  int64_t modified = 0;  // seconds since 1970
};

// The ustar stream of the entries (512-byte headers, data padded to 512 bytes, two zero blocks at
// the end). false with why in error when a name does not fit the header or is empty.
bool BuildTar(const std::vector<TarEntry>& entries, std::string& tar, std::string& error);

// data compressed into one gzip member. false with why in error when the compressor fails.
bool GzipCompress(const std::string& data, std::string& compressed, std::string& error);
