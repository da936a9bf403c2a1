// GBK through iconv.
#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// Converts with iconv; an input sequence that cannot be converted or is invalid is replaced by
// one '?' and skipped (one byte at a time, or one UTF-8 character for UTF-8 input).
std::string Convert(std::string_view in, const char* from, const char* to, bool fromUtf8) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without the converter only ASCII is sure to mean the same on both sides.
    std::string out(in);
    for (char& c : out)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
  }
  std::string out;
  out.reserve(in.size() * 2 + 4);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[256];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, dst - buf);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace the offending character.
    out.push_back('?');
    size_t skip = 1;
    if (fromUtf8) {
      const unsigned char c = static_cast<unsigned char>(*src);
      skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    } else if (srcLeft >= 2) {
      // A valid GBK lead byte followed by a valid trail byte is one unmappable character.
      const unsigned char lead = static_cast<unsigned char>(src[0]);
      const unsigned char trail = static_cast<unsigned char>(src[1]);
      if (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) skip = 2;
    }
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) { return Convert(utf8, "UTF-8", "GBK", true); }
std::string GbkToUtf8(std::string_view gbk) { return Convert(gbk, "GBK", "UTF-8", false); }

}  // namespace platform
