#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>
#include <zlib.h>

namespace testfiles {

// Bytes gzip-compressed in memory, as `gzip` would write them.
inline std::vector<uint8_t> Gzipped(const std::vector<uint8_t>& Bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(Bytes.size())));
  stream.next_in = const_cast<Bytef*>(Bytes.data());
  stream.avail_in = static_cast<uInt>(Bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("deflate failed");
  return out;
}

} // namespace testfiles
