#pragma once
// The writer's directory walk: depth first, pre-order, with the attribute mask that keeps hidden
// and system entries out, and the wildcard matching of file names.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace archive {

// Attribute-mask bits that select files away when they are missing from the mask.
constexpr std::uint32_t kSelectableAttributes = 0x1E;

// True when an entry with `attributes` passes `attributeMask`: none of its hidden, system,
// volume or directory bits falls outside the mask.
bool PassesAttributeMask(std::uint32_t attributes, std::uint32_t attributeMask);

// Wildcard match of a file name with '*' (any run) and '?' (one character), ignoring the case of
// ASCII letters. A name without extension also matches as if it ended in '.', so that "*.*" and
// "name." match it; "*" matches every name.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// One result of the walk. A directory's path ends in '/'.
struct WalkEntry {
  std::string path;
  bool isDirectory = false;
  std::uint64_t size = 0;
};

// Walks `directory`: its entries in name order (the order the Windows file system enumerates
// them), each subdirectory reported and then walked completely before the next entry when
// `recurse` is set, files reported when they match `pattern`. Entries failing the attribute mask
// are left out with everything below them; a link to a folder is named in the trace and left out
// (a link to a file is walked as the file). A directory that does not exist yields nothing; one
// that exists but cannot be listed raises EFOpenError "Cannot open folder "<path>". <reason>".
void WalkDirectory(const std::string& directory, const std::string& pattern, bool recurse,
                   std::uint32_t attributeMask, const std::function<void(const WalkEntry&)>& visit);

}  // namespace archive
