#include "db/TableFileInput.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "db/TableFileError.h"
#include "db/TableFileFormat.h"
#include "platform/FileSystem.h"

namespace db::tablefile {

namespace {

std::string SystemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

bool IsFirstCharacter(int c) { return c == '<' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

TableFileInput::TableFileInput(const std::string& path) : path_(path) {
  file_ = platform::OpenFile(path, "rb");
  if (!file_) throw ETableFileError("Cannot open the file \"" + path + "\": " + SystemMessage(errno));
  unsigned char mark[3] = {};
  const std::size_t got = ReadBytes(mark, sizeof mark);
  if (got >= 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
    start_ = 3;
  } else if (got >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    encoding_ = Encoding::kUtf16Le;
    start_ = 2;
  } else if (got >= 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
    encoding_ = Encoding::kUtf16Be;
    start_ = 2;
  } else if (got >= 2 && (mark[0] == 0) != (mark[1] == 0) && IsFirstCharacter(mark[0] | mark[1])) {
    // No byte-order mark: the first character ('<' or white space) with a zero byte beside it
    // tells UTF-16 and its byte order, as XML's autodetection does (XML 1.0, Appendix F).
    encoding_ = mark[1] == 0 ? Encoding::kUtf16Le : Encoding::kUtf16Be;
  }
  if (encoding_ != Encoding::kUtf8) raw_.resize(16 * 1024);
  Rewind();
}

TableFileInput::~TableFileInput() {
  if (file_) std::fclose(file_);
}

void TableFileInput::Rewind() {
  if (std::fseek(file_, start_, SEEK_SET) != 0) {
    throw ETableFileError("Cannot read the file \"" + path_ + "\": " + SystemMessage(errno));
  }
  rawBegin_ = rawEnd_ = 0;
  malformed_ = false;
  replaced_ = 0;
}

std::size_t TableFileInput::ReadBytes(unsigned char* out, std::size_t capacity) {
  std::size_t total = 0;
  while (total < capacity) {
    const std::size_t got = std::fread(out + total, 1, capacity - total, file_);
    if (got == 0) {
      if (std::ferror(file_)) throw ETableFileError("Cannot read the file \"" + path_ + "\": " + SystemMessage(errno));
      break;
    }
    total += got;
  }
  return total;
}

std::size_t TableFileInput::Read(char* out, std::size_t capacity) {
  if (encoding_ == Encoding::kUtf8) return ReadBytes(reinterpret_cast<unsigned char*>(out), capacity);
  return ReadUtf16(out, capacity);
}

std::size_t TableFileInput::ReadUtf16(char* out, std::size_t capacity) {
  const bool little = encoding_ == Encoding::kUtf16Le;
  auto unit = [&](std::size_t at) -> char32_t {
    return little ? raw_[at] | (raw_[at + 1] << 8) : (raw_[at] << 8) | raw_[at + 1];
  };
  std::size_t n = 0;
  bool endOfFile = false;
  while (n + 4 <= capacity && !malformed_) {
    std::size_t available = rawEnd_ - rawBegin_;
    if (available < 4 && !endOfFile) {
      std::memmove(raw_.data(), raw_.data() + rawBegin_, available);
      rawBegin_ = 0;
      rawEnd_ = available + ReadBytes(raw_.data() + available, raw_.size() - available);
      endOfFile = rawEnd_ < raw_.size();
      continue;
    }
    if (available < 2) {
      malformed_ = available == 1;
      break;
    }
    char32_t code = unit(rawBegin_);
    std::size_t used = 2;
    if (code >= 0xD800 && code <= 0xDFFF) {
      const char32_t low = available >= 4 ? unit(rawBegin_ + 2) : 0;
      if (code >= 0xDC00 || low < 0xDC00 || low > 0xDFFF) {
        // A lone surrogate has no UTF-8 form: U+FFFD stands for it, as for text read from the
        // database, and is counted.
        code = 0xFFFD;
        ++replaced_;
      } else {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        used = 4;
      }
    }
    rawBegin_ += used;
    n += EncodeUtf8(code, out + n);
  }
  return n;
}

}  // namespace db::tablefile
