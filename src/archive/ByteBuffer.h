#pragma once
// Little-endian reading and writing of archive records. ByteReader never reads past the bytes it
// was given: a read beyond them yields 0 and clears ok(), so a record is parsed in full and its
// failure checked once. ByteWriter appends to a byte vector.
// Shared by the archive reader and writer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace archive {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  explicit ByteReader(const std::vector<std::uint8_t>& bytes) : ByteReader(bytes.data(), bytes.size()) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return size_ - pos_; }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
  std::uint64_t U64() { return Take(8); }

  // The next `n` bytes, or nullptr (and ok() false) when fewer remain.
  const std::uint8_t* Bytes(std::size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return nullptr;
    }
    const std::uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  std::string String(std::size_t n) {
    const std::uint8_t* p = Bytes(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
  }
  void Skip(std::size_t n) { Bytes(n); }

 private:
  std::uint64_t Take(std::size_t n) {
    const std::uint8_t* p = Bytes(n);
    if (p == nullptr) return 0;
    std::uint64_t v = 0;
    for (std::size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v) { Put(v, 2); }
  void U32(std::uint32_t v) { Put(v, 4); }
  void U64(std::uint64_t v) { Put(v, 8); }
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void String(const std::string& s) { Bytes(s.data(), s.size()); }

 private:
  void Put(std::uint64_t v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }

  std::vector<std::uint8_t>& out_;
};

}  // namespace archive
