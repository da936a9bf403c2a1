#include "archive/Deflater.h"

#include <zlib.h>

#include <string>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

[[noreturn]] void ThrowCompressionError(const z_stream& z, int rc) {
  throw EZCompressionError(std::string("The compressor failed: ") + (z.msg != nullptr ? z.msg : zError(rc)));
}

}  // namespace

Deflater::Deflater(int level) : stream_(new z_stream{}) {
  // Raw deflate (negative window bits), 32 KiB window, default memory level and strategy.
  if (deflateInit2(stream_, level < 0 ? 0 : level > 9 ? 9 : level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream_;
    throw EZCompressionError("The compressor could not be started");
  }
}

Deflater::~Deflater() {
  deflateEnd(stream_);
  delete stream_;
}

void Deflater::Compress(const std::uint8_t* data, std::size_t dictionary, std::size_t size, bool last,
                        std::vector<std::uint8_t>& out) {
  z_stream* z = stream_;
  if (deflateReset(z) != Z_OK) ThrowCompressionError(*z, Z_STREAM_ERROR);
  if (dictionary > 0) {
    const int rc = deflateSetDictionary(z, data - dictionary, static_cast<uInt>(dictionary));
    if (rc != Z_OK) ThrowCompressionError(*z, rc);
  }
  // Room for all of it at once, as a rule.
  out.resize(static_cast<std::size_t>(WorstCase(size)));
  z->next_in = const_cast<std::uint8_t*>(data);  // zlib does not write to its input
  z->avail_in = static_cast<uInt>(size);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  std::size_t produced = 0;
  for (;;) {
    z->next_out = out.data() + produced;
    z->avail_out = static_cast<uInt>(out.size() - produced);
    const int rc = deflate(z, flush);
    if (rc < 0 && rc != Z_BUF_ERROR) ThrowCompressionError(*z, rc);
    produced = out.size() - z->avail_out;
    // A flush is complete when it left output space unused.
    if (last ? rc == Z_STREAM_END : z->avail_in == 0 && z->avail_out > 0) break;
    out.resize(out.size() * 2);
  }
  out.resize(produced);
}

}  // namespace archive
