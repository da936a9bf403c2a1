#include "archive/ZipCrypto.h"

#include "archive/Crc32.h"

namespace archive {

void ZipKeys::Reset() {
  k0_ = 0x12345678u;
  k1_ = 0x23456789u;
  k2_ = 0x34567890u;
}

void ZipKeys::Init(const std::string& password) {
  Reset();
  for (const char c : password) Update(static_cast<std::uint8_t>(c));
}

void ZipKeys::Update(std::uint8_t plain) {
  const std::uint32_t* table = Crc32Table();
  k0_ = table[(k0_ ^ plain) & 0xFF] ^ (k0_ >> 8);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1u;
  k2_ = table[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
}

std::uint8_t ZipKeys::StreamByte() const {
  const std::uint32_t temp = (k2_ & 0xFFFF) | 2u;
  return static_cast<std::uint8_t>((temp * (temp ^ 1u)) >> 8);
}

std::uint8_t ZipKeys::DecryptByte(std::uint8_t cipher) {
  const std::uint8_t plain = cipher ^ StreamByte();
  Update(plain);
  return plain;
}

std::uint8_t ZipKeys::EncryptByte(std::uint8_t plain) {
  const std::uint8_t cipher = plain ^ StreamByte();
  Update(plain);
  return cipher;
}

// The bulk forms keep the keys and the table in locals: they run over every byte of an archive.
void ZipKeys::Decrypt(std::uint8_t* data, std::size_t size) {
  const std::uint32_t* table = Crc32Table();
  std::uint32_t k0 = k0_, k1 = k1_, k2 = k2_;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint32_t temp = (k2 & 0xFFFF) | 2u;
    const std::uint8_t plain = data[i] ^ static_cast<std::uint8_t>((temp * (temp ^ 1u)) >> 8);
    data[i] = plain;
    k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1u;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  k0_ = k0;
  k1_ = k1;
  k2_ = k2;
}

void ZipKeys::Encrypt(std::uint8_t* data, std::size_t size) {
  const std::uint32_t* table = Crc32Table();
  std::uint32_t k0 = k0_, k1 = k1_, k2 = k2_;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint32_t temp = (k2 & 0xFFFF) | 2u;
    const std::uint8_t plain = data[i];
    data[i] = plain ^ static_cast<std::uint8_t>((temp * (temp ^ 1u)) >> 8);
    k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1u;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  k0_ = k0;
  k1_ = k1;
  k2_ = k2;
}

}  // namespace archive
