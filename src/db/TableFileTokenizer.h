#pragma once
// The markup of a TableFile read as ADO's own reader reads it: tags and their attributes, and
// nothing a TableFile does not use. It is not a general XML parser, on purpose: attribute values
// are taken exactly as they stand (a TAB, CR or LF inside a value stays what it is, instead of
// becoming a blank), and raw control characters are accepted there, because ADO writes them so.
// Between tags only white space, comments and processing instructions (the XML declaration among
// them) may stand. The file is read in pieces, so memory does not grow with its size; failures
// name the file, the line and the column.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/TableFileInput.h"

namespace db::tablefile {

struct TagAttribute {
  std::string_view name;
  std::string_view value;  // as it stands between its quotes
  bool plain = true;       // holds no reference: the value is its own text
};

struct Tag {
  enum class Kind { kStart, kEmpty, kEnd, kEndOfFile };
  Kind kind = Kind::kEndOfFile;
  std::string_view name;
  std::vector<TagAttribute> attributes;

  bool Opens() const { return kind == Kind::kStart || kind == Kind::kEmpty; }
  bool Opens(std::string_view qualifiedName) const { return Opens() && name == qualifiedName; }
  bool Closes(std::string_view qualifiedName) const { return kind == Kind::kEnd && name == qualifiedName; }
  const TagAttribute* Find(std::string_view attributeName) const;
};

class TableFileTokenizer {
 public:
  // Opens the file. Raises ETableFileError when it cannot be opened.
  explicit TableFileTokenizer(const std::string& path);

  // The next tag. Its names and values stay valid until the next call. Raises ETableFileError
  // for a malformed tag or reference, text between tags, text that is no UTF-8 or UTF-16, and
  // a file that ends inside a tag.
  const Tag& Next();
  // Back to the start of the file.
  void Rewind();

  // The text of a value: references replaced by the characters they stand for.
  static void AppendText(const TagAttribute& attribute, std::string& out);

  // Where the last tag starts, for a failure found after reading on.
  std::uint64_t TagOffset() const { return tagOffset_; }
  // Raise ETableFileError: "The file "..." is not a valid table file: <why> (line L, column C)",
  // at the last tag, at an offset, or at a value of the current tag.
  [[noreturn]] void Fail(const std::string& why) const { FailAtOffset(why, tagOffset_); }
  [[noreturn]] void FailAtOffset(const std::string& why, std::uint64_t offset) const;
  [[noreturn]] void FailAt(const std::string& why, const TagAttribute& attribute) const;

 private:
  // Each returns where the construct at `p` ends, or nullptr when [p, end) holds only its beginning.
  const char* ScanTag(const char* p, const char* end);
  const char* ScanReference(const char* p, const char* end) const;
  const char* ScanValueCharacter(const char* p, const char* end) const;
  // Keeps what is not consumed yet, reads more; false at the end of the file.
  bool Refill();
  [[noreturn]] void FailAtPointer(const std::string& why, const char* where) const;

  std::string path_;
  TableFileInput input_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;       // first byte not consumed
  std::size_t end_ = 0;       // end of what was read
  std::uint64_t base_ = 0;    // offset of buffer_[0] in the file's text
  std::uint64_t tagOffset_ = 0;
  Tag tag_;
};

}  // namespace db::tablefile
