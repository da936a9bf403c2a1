#pragma once
// TSortedZip: the entry list of an archive, kept ordered by insertion at a position found by
// bisection. Under ByNone (the order this system uses) entries are ordered by disk number, then
// by local header offset, which for a single-file archive is the order of the data in the file;
// two entries at the same place are a damaged directory ("Duplicate Object index").
// Shared by the archive reader and writer; owns its entries.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/TZipHeaderInfo.h"

namespace archive {

enum class TZipSortMode : std::uint8_t {
  ByName, ByFileName, ByDirectoryName, ByDate, ByCompressedSize, ByUnCompressedSize, ByRate, ByNone
};

class TSortedZip {
 public:
  explicit TSortedZip(TZipSortMode mode = TZipSortMode::ByNone) : mode_(mode) {}

  TZipSortMode SortMode() const { return mode_; }
  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // True when any entry carries Zip64 values.
  bool HasZip64() const { return hasZip64_; }

  // Inserts in order and returns the position. Under ByNone an entry equal to one already held
  // raises EListError "Duplicate Object index" (the entry is then not taken). Under the other
  // orders equal entries go after those already held.
  std::size_t Insert(std::unique_ptr<TZipHeaderInfo> entry);

  // Replaces the list by `entries`, put in order with one sort (equal entries keep their order).
  // Under ByNone two equal entries raise EListError "Duplicate Object index" and leave the list
  // empty. Reading a directory this way stays O(n log n) whatever order the directory has.
  void Assign(std::vector<std::unique_ptr<TZipHeaderInfo>> entries);

  // The entry at `index`; EListError "Index <index> is out of range" outside 0..Count()-1.
  TZipHeaderInfo& At(long long index);
  const TZipHeaderInfo& At(long long index) const;
  TZipHeaderInfo& operator[](std::size_t index) { return *items_[index]; }
  const TZipHeaderInfo& operator[](std::size_t index) const { return *items_[index]; }

  void Clear();

 private:
  // <0, 0, >0 as a sorts before, with or after b.
  int Compare(const TZipHeaderInfo& a, const TZipHeaderInfo& b) const;

  TZipSortMode mode_;
  std::vector<std::unique_ptr<TZipHeaderInfo>> items_;
  bool hasZip64_ = false;
};

}  // namespace archive
