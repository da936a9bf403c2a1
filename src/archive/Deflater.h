#pragma once
// Raw deflate (no zlib header or trailer) through zlib, of a file in pieces that are compressed
// apart from each other, on any thread and in any order, and joined in order into one stream.
// Every piece but the last ends on a byte boundary (a sync flush) and leaves the stream open;
// every piece but the first starts with the 32 KiB that came before it as its dictionary, so the
// pieces compress nearly as well as one stream would. A piece's output depends only on its bytes,
// its dictionary and the level, so the joined stream is the same whichever thread compressed
// which piece.

#include <cstddef>
#include <cstdint>
#include <vector>

struct z_stream_s;

namespace archive {

class Deflater {
 public:
  // The window of deflate: the most of the previous piece a piece can refer to.
  static constexpr std::size_t kDictionarySize = 32768;

  // The most raw deflate output `size` bytes of input can take, in one piece or in pieces of a
  // mebibyte or more (incompressible data goes into stored blocks of at most 65535 bytes, each
  // with a 5-byte header, and each piece adds an empty block), with room to spare.
  static constexpr std::uint64_t WorstCase(std::uint64_t size) { return size + (size >> 10) + 64; }

  explicit Deflater(int level);
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // Compresses the `size` bytes at `data` into `out` (replacing its content). The `dictionary`
  // bytes before `data` (at most kDictionarySize) are the end of the previous piece; `last` ends
  // the stream. Raises EZCompressionError with zlib's reason when it reports an error.
  void Compress(const std::uint8_t* data, std::size_t dictionary, std::size_t size, bool last,
                std::vector<std::uint8_t>& out);

 private:
  z_stream_s* stream_;
};

}  // namespace archive
