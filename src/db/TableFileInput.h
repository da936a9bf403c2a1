#pragma once
// The characters of a TableFile as UTF-8, whatever the file was saved in: UTF-8 with or without a
// byte-order mark (ADO saving to a path), or UTF-16 with its byte-order mark (ADO saving through a
// stream with the Unicode charset) or without one.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace db::tablefile {

class TableFileInput {
 public:
  // Opens the file and reads its byte-order mark. Raises ETableFileError when it cannot be opened.
  explicit TableFileInput(const std::string& path);
  ~TableFileInput();
  TableFileInput(const TableFileInput&) = delete;
  TableFileInput& operator=(const TableFileInput&) = delete;

  // Fills `out` with up to `capacity` (at least 4) bytes of UTF-8, never splitting a character;
  // 0 at the end of the file or where a UTF-16 file holds no character (then Malformed()).
  // Raises ETableFileError when the file cannot be read.
  std::size_t Read(char* out, std::size_t capacity);
  // A UTF-16 file ends inside a code unit.
  bool Malformed() const { return malformed_; }
  // Unpaired surrogates of a UTF-16 file read since the first character, each given as U+FFFD.
  std::int64_t Replaced() const { return replaced_; }
  // Back to the first character.
  void Rewind();

 private:
  enum class Encoding { kUtf8, kUtf16Le, kUtf16Be };

  std::size_t ReadBytes(unsigned char* out, std::size_t capacity);
  std::size_t ReadUtf16(char* out, std::size_t capacity);

  std::string path_;
  std::FILE* file_ = nullptr;
  Encoding encoding_ = Encoding::kUtf8;
  long start_ = 0;                  // length of the byte-order mark
  std::vector<unsigned char> raw_;  // UTF-16 bytes read but not converted yet
  std::size_t rawBegin_ = 0;
  std::size_t rawEnd_ = 0;
  bool malformed_ = false;
  std::int64_t replaced_ = 0;
};

}  // namespace db::tablefile
