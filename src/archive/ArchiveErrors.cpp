#include "archive/ArchiveErrors.h"

#include "archive/FileIo.h"

namespace archive {

EFOpenError MakeOpenError(const std::string& path, int err) {
  return EFOpenError("Cannot open file \"" + PrintableName(path) + "\". " + fileio::ErrorText(err));
}

EBadZipFile MakeDamagedError(const std::string& reason) {
  return EBadZipFile(std::string(EBadZipFile::kDefaultMessage) + " The archive is damaged: " + reason);
}

std::string PrintableName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

EListError MakeIndexError(long long index) {
  return EListError("Index " + std::to_string(index) + " is out of range");
}

}  // namespace archive
