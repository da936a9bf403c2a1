#include "archive/Crc32.h"

#include <zlib.h>

#include <climits>

namespace archive {

const std::uint32_t* Crc32Table() {
  static const std::uint32_t* table = [] {
    static std::uint32_t copy[256];
    const z_crc_t* t = get_crc_table();
    for (int i = 0; i < 256; ++i) copy[i] = static_cast<std::uint32_t>(t[i]);
    return copy;
  }();
  return table;
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  // zlib works on the finished (inverted) value; the register is its complement.
  uLong c = ~crc & 0xFFFFFFFFu;
  const auto* p = static_cast<const Bytef*>(data);
  while (size > 0) {
    const uInt n = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    c = crc32(c, p, n);
    p += n;
    size -= n;
  }
  return ~static_cast<std::uint32_t>(c);
}

std::uint32_t Crc32Byte(std::uint32_t crc, std::uint8_t byte) {
  return Crc32Table()[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

}  // namespace archive
