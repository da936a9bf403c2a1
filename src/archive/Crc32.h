#pragma once
// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320), through zlib. Shared by the archive
// reader and writer and by the traditional encryption's key schedule.

#include <cstddef>
#include <cstdint>

namespace archive {

// Register form: start with 0xFFFFFFFF, feed the data in any number of pieces, invert the final
// register to get the CRC stored in the archive.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// One step of the register for one byte (the form the encryption keys use).
std::uint32_t Crc32Byte(std::uint32_t crc, std::uint8_t byte);

// The 256-entry table of the polynomial (zlib's).
const std::uint32_t* Crc32Table();

// The finished CRC of a whole buffer.
inline std::uint32_t Crc32Of(const void* data, std::size_t size) {
  return ~Crc32Update(0xFFFFFFFFu, data, size);
}

}  // namespace archive
