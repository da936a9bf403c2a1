#include "archive/TSortedZip.h"

#include <algorithm>
#include <cctype>

#include "archive/ArchiveErrors.h"

namespace archive {
namespace {

template <typename T>
int Cmp(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// ASCII letters compared without case, as entry names are.
int CompareNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return Cmp(a.size(), b.size());
}

// Compression rate in thousandths; 0 for an empty entry.
std::uint64_t Rate(const TZipHeaderInfo& e) {
  const std::uint64_t u = e.UncompressedSize64();
  const std::uint64_t c = e.CompressedSize64();
  if (u == 0 || c >= u) return 0;
  return (u - c) * 1000 / u;
}

}  // namespace

int TSortedZip::Compare(const TZipHeaderInfo& a, const TZipHeaderInfo& b) const {
  switch (mode_) {
    case TZipSortMode::ByName: return CompareNoCase(a.FullName(), b.FullName());
    case TZipSortMode::ByFileName: return CompareNoCase(a.FileName(), b.FileName());
    case TZipSortMode::ByDirectoryName: return CompareNoCase(a.Directory(), b.Directory());
    case TZipSortMode::ByDate: return Cmp(a.dosDateTime, b.dosDateTime);
    case TZipSortMode::ByCompressedSize: return Cmp(a.CompressedSize64(), b.CompressedSize64());
    case TZipSortMode::ByUnCompressedSize: return Cmp(a.UncompressedSize64(), b.UncompressedSize64());
    case TZipSortMode::ByRate: return Cmp(Rate(a), Rate(b));
    case TZipSortMode::ByNone: break;
  }
  const int disk = Cmp(a.DiskNumberStart32(), b.DiskNumberStart32());
  return disk != 0 ? disk : Cmp(a.LocalHeaderOffset64(), b.LocalHeaderOffset64());
}

std::size_t TSortedZip::Insert(std::unique_ptr<TZipHeaderInfo> entry) {
  // Entries usually arrive in order: the append is checked first so that reading a directory
  // stays linear in the common case.
  std::size_t lo = 0, hi = items_.size();
  if (!items_.empty() && Compare(*items_.back(), *entry) < 0) {
    lo = hi;
  } else {
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      const int c = Compare(*items_[mid], *entry);
      if (c < 0 || (c == 0 && mode_ != TZipSortMode::ByNone)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (mode_ == TZipSortMode::ByNone && lo < items_.size() && Compare(*items_[lo], *entry) == 0)
      throw EListError("Duplicate Object index");
  }
  if (entry->zip64) hasZip64_ = true;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(lo), std::move(entry));
  return lo;
}

void TSortedZip::Assign(std::vector<std::unique_ptr<TZipHeaderInfo>> entries) {
  Clear();
  std::stable_sort(entries.begin(), entries.end(),
                   [this](const auto& a, const auto& b) { return Compare(*a, *b) < 0; });
  if (mode_ == TZipSortMode::ByNone) {
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (Compare(*entries[i - 1], *entries[i]) == 0) throw EListError("Duplicate Object index");
  }
  for (const auto& e : entries)
    if (e->zip64) hasZip64_ = true;
  items_ = std::move(entries);
}

TZipHeaderInfo& TSortedZip::At(long long index) {
  if (index < 0 || static_cast<unsigned long long>(index) >= items_.size()) throw MakeIndexError(index);
  return *items_[static_cast<std::size_t>(index)];
}

const TZipHeaderInfo& TSortedZip::At(long long index) const {
  if (index < 0 || static_cast<unsigned long long>(index) >= items_.size()) throw MakeIndexError(index);
  return *items_[static_cast<std::size_t>(index)];
}

void TSortedZip::Clear() {
  items_.clear();
  hasZip64_ = false;
}

}  // namespace archive
