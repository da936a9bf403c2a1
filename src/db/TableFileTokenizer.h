#pragma once
// The markup of a TableFile read as ADO's own reader reads it: tags and their attributes, and
// nothing a TableFile does not use. It is not a general XML parser, on purpose: attribute values
// are taken exactly as they stand (a TAB, CR or LF inside a value stays what it is, instead of
// becoming a blank), and raw control characters are accepted there, because ADO writes them so.
// Between tags only white space, comments and processing instructions (the XML declaration among
// them) may stand. Namespace declarations are scoped as XML scopes them, and every prefix must be
// declared. The file is read in pieces, so memory does not grow with its size (nor with a long
// comment); failures name the file, the line and the column.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/TableFileInput.h"

namespace db::tablefile {

// Names as written (`name`) and as XML namespaces resolve them: the namespace's URI (empty for
// none) and the local part. An unprefixed attribute is in no namespace; an unprefixed element is
// in the default namespace of its scope; namespace declarations are in XML's xmlns namespace.
struct TagAttribute {
  std::string_view name;
  std::string_view uri;
  std::string_view local;
  std::string_view value;  // as it stands between its quotes
  bool plain = true;       // holds no reference: the value is its own text
};

struct Tag {
  enum class Kind { kStart, kEmpty, kEnd, kEndOfFile };
  Kind kind = Kind::kEndOfFile;
  std::string_view name;
  std::string_view uri;
  std::string_view local;
  std::vector<TagAttribute> attributes;

  bool Is(std::string_view namespaceUri, std::string_view localName) const {
    return local == localName && uri == namespaceUri;
  }
  bool Opens() const { return kind == Kind::kStart || kind == Kind::kEmpty; }
  bool Opens(std::string_view namespaceUri, std::string_view localName) const {
    return Opens() && Is(namespaceUri, localName);
  }
  bool Closes(std::string_view namespaceUri, std::string_view localName) const {
    return kind == Kind::kEnd && Is(namespaceUri, localName);
  }
  const TagAttribute* Find(std::string_view namespaceUri, std::string_view localName) const;
};

class TableFileTokenizer {
 public:
  // Opens the file. Raises ETableFileError when it cannot be opened.
  explicit TableFileTokenizer(const std::string& path);

  // The next tag. Its names and values stay valid until the next call. Raises ETableFileError
  // for a malformed tag or reference, text between tags, text that is no UTF-8 or UTF-16, and
  // a file that ends inside a tag, an end tag that does not match its start tag, an undeclared
  // prefix, an attribute given twice, and a reference to a character XML does not allow.
  const Tag& Next();
  // Back to the start of the file.
  void Rewind();

  // The text of a value: references replaced by the characters they stand for.
  static void AppendText(const TagAttribute& attribute, std::string& out);

  // Where the last tag starts, for a failure found after reading on.
  std::uint64_t TagOffset() const { return tagOffset_; }
  // Unpaired surrogates of a UTF-16 file read so far in this pass, each read as U+FFFD.
  std::int64_t Replaced() const { return input_.Replaced(); }
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
  const char* ScanName(const char* p, const char* end) const;
  // Keeps what is not consumed yet, reads more; false at the end of the file.
  bool Refill();
  // Namespaces: declares those of a start tag, resolves its names and checks its attributes.
  void Resolve(const char* tagStart);
  std::string_view Lookup(std::string_view prefix, bool element, const char* where) const;
  void Split(std::string_view name, std::string_view& uri, std::string_view& local, bool element, const char* where) const;
  [[noreturn]] void FailAtPointer(const std::string& why, const char* where) const;

  struct Binding {
    std::string prefix;  // empty for the default namespace
    std::string uri;     // empty: the default namespace undeclared
  };
  struct Open {
    std::string name;
    std::size_t bindings;  // bindings in scope outside it
  };

  std::string path_;
  TableFileInput input_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;       // first byte not consumed
  std::size_t end_ = 0;       // end of what was read
  std::uint64_t base_ = 0;    // offset of buffer_[0] in the file's text
  std::uint64_t tagOffset_ = 0;
  enum class Inside { kNothing, kComment, kInstruction } inside_ = Inside::kNothing;
  std::deque<Binding> bindings_;  // a deque: the tag's names view them
  std::vector<Open> open_;
  std::size_t unbindTo_ = 0;  // bindings to keep at the next tag (those of the last tag end with it)
  std::vector<std::pair<std::uint64_t, std::size_t>> hashed_;  // attribute name keys, for a large tag
  Tag tag_;
};

}  // namespace db::tablefile
