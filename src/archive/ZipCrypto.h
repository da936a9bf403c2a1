#pragma once
// The traditional PKWARE encryption of the ZIP application note: three 32-bit keys initialised
// from the password, updated by every plain byte. Shared by the archive reader (decryption and
// the password check) and the writer (the 12-byte encryption header and the data).

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive {

class ZipKeys {
 public:
  ZipKeys() { Reset(); }
  explicit ZipKeys(const std::string& password) { Init(password); }

  // Starts from the fixed keys and feeds the password's bytes in order.
  void Init(const std::string& password);
  // The fixed initial keys, no password.
  void Reset();

  // Feeds one plain byte into the keys.
  void Update(std::uint8_t plain);
  // The next key-stream byte (depends on the third key only; does not advance).
  std::uint8_t StreamByte() const;

  std::uint8_t DecryptByte(std::uint8_t cipher);
  std::uint8_t EncryptByte(std::uint8_t plain);
  void Decrypt(std::uint8_t* data, std::size_t size);
  void Encrypt(std::uint8_t* data, std::size_t size);

  std::uint32_t key0() const { return k0_; }
  std::uint32_t key1() const { return k1_; }
  std::uint32_t key2() const { return k2_; }

 private:
  std::uint32_t k0_ = 0, k1_ = 0, k2_ = 0;
};

}  // namespace archive
