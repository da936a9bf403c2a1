#include "archive/ArchiveSettings.h"

#include <cstdint>

namespace archive {
namespace {

// Stored constant from which the ArchivePassword is derived. Every character's code is low
// enough that the derived password stays printable ASCII, so that support staff can type it into
// any ZIP tool regardless of its code page. Changing it makes older backups unreadable.
constexpr char kStoredPasswordSource[] = "K4T8bW2hXe6Jc9NfD";
static_assert(sizeof kStoredPasswordSource - 1 == 17);

}  // namespace

std::string BuildArchivePassword(std::string_view text) {
  std::string result;
  if (text.empty()) return result;
  result.reserve(text.size());
  const std::size_t n = text.size();
  unsigned k = static_cast<unsigned>(n + 11);
  for (std::size_t i = 1; i <= n; ++i) {
    k = static_cast<unsigned>((k + i) % 19);
    const unsigned code = static_cast<unsigned char>(text[i - 1]);
    result.push_back(static_cast<char>(static_cast<std::uint8_t>((k + code) % 256)));
  }
  return result;
}

std::string ArchivePassword() { return BuildArchivePassword(kStoredPasswordSource); }

}  // namespace archive
