#pragma once
// Raw deflate (no zlib header or trailer) of one source, block by block, through zlib. The input
// and output buffers live as long as the Deflater, so one instance serves every entry of a run.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace archive {

class Deflater {
 public:
  // Fills `buffer` with up to `capacity` bytes of input; returns the count, 0 at the end.
  using ReadFn = std::function<std::size_t(std::uint8_t* buffer, std::size_t capacity)>;
  // Takes one block of output; the block may be changed in place (encrypted) before it is stored.
  using WriteFn = std::function<void(std::uint8_t* data, std::size_t size)>;

  static constexpr std::size_t kBufferSize = 65535;

  explicit Deflater(int level);

  // The most raw deflate output `size` bytes of input can take (incompressible data goes into
  // stored blocks of at most 65535 bytes, each with a 5-byte header), with room to spare.
  static constexpr std::uint64_t WorstCase(std::uint64_t size) { return size + (size >> 10) + 64; }

  // Compresses everything `read` delivers and hands the raw deflate stream to `write`. Returns
  // the number of input bytes read. Raises EZCompressionError with zlib's reason when it reports
  // an error; whatever `read` or `write` raise passes through.
  std::uint64_t Compress(const ReadFn& read, const WriteFn& write);

 private:
  int level_;
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
};

}  // namespace archive
