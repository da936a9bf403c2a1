#include "archive/Deflater.h"

#include <zlib.h>

#include <string>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

// Ends the stream on every way out of Compress.
class DeflateStream {
 public:
  explicit DeflateStream(int level) {
    // Raw deflate (negative window bits), 32 KiB window, default memory level and strategy.
    if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZCompressionError("The compressor could not be started");
  }
  ~DeflateStream() { deflateEnd(&stream_); }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

}  // namespace

Deflater::Deflater(int level)
    : level_(level < 0 ? 0 : level > 9 ? 9 : level), input_(kBufferSize), output_(kBufferSize) {}

std::uint64_t Deflater::Compress(const ReadFn& read, const WriteFn& write) {
  std::uint64_t total = read(input_.data(), input_.size());
  DeflateStream stream(level_);
  z_stream* z = stream.get();
  z->next_in = input_.data();
  z->avail_in = static_cast<uInt>(total);
  z->next_out = output_.data();
  z->avail_out = static_cast<uInt>(output_.size());

  int flush = total == 0 ? Z_FINISH : Z_NO_FLUSH;
  for (;;) {
    if (z->avail_in == 0 && flush == Z_NO_FLUSH) {
      const std::size_t got = read(input_.data(), input_.size());
      total += got;
      z->next_in = input_.data();
      z->avail_in = static_cast<uInt>(got);
      if (got == 0) flush = Z_FINISH;
    }
    const int rc = deflate(z, flush);
    if (rc < 0 && rc != Z_BUF_ERROR)
      throw EZCompressionError(std::string("The compressor failed: ") + (z->msg != nullptr ? z->msg : zError(rc)));
    if (z->avail_out == 0 || flush == Z_FINISH) {
      const std::size_t filled = output_.size() - z->avail_out;
      if (filled > 0) write(output_.data(), filled);
      z->next_out = output_.data();
      z->avail_out = static_cast<uInt>(output_.size());
    }
    if (rc == Z_STREAM_END) break;
  }
  return total;
}

}  // namespace archive
