#include "platform/TarGz.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr size_t kBlock = 512;

// An octal number right-aligned in a field of width bytes, ending in NUL; digits that do not fit
// are dropped (callers check the range first).
void PutOctal(char* field, size_t width, uint64_t value) {
  field[width - 1] = '\0';
  for (size_t i = width - 1; i-- > 0;) {
    field[i] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  }
}

// The largest size an 11-digit octal field holds.
constexpr uint64_t kLargestEntry = (uint64_t{1} << 33) - 1;

}  // namespace

bool BuildTar(const std::vector<TarEntry>& entries, std::string& tar, std::string& error) {
  tar.clear();
  for (const TarEntry& entry : entries) {
    if (entry.name.empty() || entry.name.size() > 99 || entry.name.find('\0') != std::string::npos) {
      error = "the archive cannot hold the name \"" + entry.name + "\"";
      return false;
    }
    if (entry.data.size() > kLargestEntry) {
      error = "the archive cannot hold " + entry.name + ": larger than 8 GiB";
      return false;
    }
    char header[kBlock];
    std::memset(header, 0, sizeof header);
    std::memcpy(header, entry.name.data(), entry.name.size());
    PutOctal(header + 100, 8, 0600);
    PutOctal(header + 108, 8, 0);
    PutOctal(header + 116, 8, 0);
    PutOctal(header + 124, 12, entry.data.size());
    PutOctal(header + 136, 12, entry.modified < 0 ? 0 : static_cast<uint64_t>(entry.modified));
    header[156] = '0';
    std::memcpy(header + 257, "ustar", 6);
    std::memcpy(header + 263, "00", 2);
    // the check sum counts its own field as blanks
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (char c : header) sum += static_cast<unsigned char>(c);
    PutOctal(header + 148, 7, sum);
    header[155] = ' ';
    tar.append(header, sizeof header);
    tar += entry.data;
    tar.append((kBlock - entry.data.size() % kBlock) % kBlock, '\0');
  }
  tar.append(2 * kBlock, '\0');
  return true;
}

bool GzipCompress(const std::string& data, std::string& compressed, std::string& error) {
  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  // 15 + 16: a gzip header and trailer around the deflate stream
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "the compressor could not start";
    return false;
  }
  compressed.assign(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int result = deflate(&stream, Z_FINISH);
  const size_t written = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    error = "the compressor failed";
    return false;
  }
  compressed.resize(written);
  return true;
}
