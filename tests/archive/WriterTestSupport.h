#pragma once
// Helpers of the archive writer's tests: whole-file reads and writes, running the real ZIP tools,
// and a plain parse of the records an archive holds, so that tests can check bytes at offsets.

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace writertest {

// A path from UTF-8 text: on Windows a plain std::string would be taken in the ANSI code page.
inline std::filesystem::path Native(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The stored form of a folder: its full path with '/' separators, without the drive (Windows) or
// the leading separator, ending in '/'.
inline std::string StoredDir(std::string dir) {
#ifdef _WIN32
  for (char& c : dir)
    if (c == '\\') c = '/';
  if (dir.size() >= 2 && dir[1] == ':') dir.erase(0, 2);
#endif
  return dir.substr(1) + "/";
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadFile(const std::string& path) { return ReadFile(Native(path)); }

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(Native(path).parent_path());
  std::ofstream(Native(path), std::ios::binary) << content;
}

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output and standard error
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
#ifdef _WIN32
  (void)command;  // the host's tools are run by scripts/test-windows.sh, not from inside Wine
  return result;
#else
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) result.output.append(buf, n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
#endif
}

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

inline std::uint32_t U16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 1])) << 8;
}
inline std::uint32_t U32(const std::string& b, std::size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// One entry as its local and central headers describe it.
struct ParsedEntry {
  std::size_t localOffset = 0;
  std::uint32_t versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0, crc = 0;
  std::uint32_t compressedSize = 0, uncompressedSize = 0;
  std::string name;         // stored bytes
  std::size_t dataOffset = 0;
  // From the central header.
  std::uint32_t versionMadeBy = 0, centralFlags = 0, centralMethod = 0, centralCrc = 0;
  std::uint32_t centralCompressed = 0, internalAttributes = 0, externalAttributes = 0;
  std::uint32_t centralExtraLength = 0, centralLocalOffset = 0;
};

struct ParsedArchive {
  bool ok = false;
  std::vector<ParsedEntry> entries;
  std::uint32_t entriesThisDisk = 0, totalEntries = 0, centralSize = 0, centralOffset = 0;
  std::uint32_t commentLength = 0;
  std::size_t endOffset = 0;
};

// Parses an archive without Zip64 records: the end record at the very end, the central directory
// it names, and each entry's local header.
inline ParsedArchive Parse(const std::string& b) {
  ParsedArchive a;
  if (b.size() < 22) return a;
  a.endOffset = b.size() - 22;
  if (U32(b, a.endOffset) != 0x06054B50) return a;
  a.entriesThisDisk = U16(b, a.endOffset + 8);
  a.totalEntries = U16(b, a.endOffset + 10);
  a.centralSize = U32(b, a.endOffset + 12);
  a.centralOffset = U32(b, a.endOffset + 16);
  a.commentLength = U16(b, a.endOffset + 20);
  std::size_t at = a.centralOffset;
  for (std::uint32_t i = 0; i < a.totalEntries; ++i) {
    if (at + 46 > b.size() || U32(b, at) != 0x02014B50) return a;
    ParsedEntry e;
    e.versionMadeBy = U16(b, at + 4);
    e.centralFlags = U16(b, at + 8);
    e.centralMethod = U16(b, at + 10);
    e.centralCrc = U32(b, at + 16);
    e.centralCompressed = U32(b, at + 20);
    const std::uint32_t n = U16(b, at + 28), m = U16(b, at + 30), k = U16(b, at + 32);
    e.centralExtraLength = m;
    e.internalAttributes = U16(b, at + 36);
    e.externalAttributes = U32(b, at + 38);
    e.centralLocalOffset = U32(b, at + 42);
    e.localOffset = e.centralLocalOffset;
    const std::size_t l = e.localOffset;
    if (l + 30 > b.size() || U32(b, l) != 0x04034B50) return a;
    e.versionNeeded = U16(b, l + 4);
    e.flags = U16(b, l + 6);
    e.method = U16(b, l + 8);
    e.time = U16(b, l + 10);
    e.date = U16(b, l + 12);
    e.crc = U32(b, l + 14);
    e.compressedSize = U32(b, l + 18);
    e.uncompressedSize = U32(b, l + 22);
    const std::uint32_t ln = U16(b, l + 26), lm = U16(b, l + 28);
    e.name = b.substr(l + 30, ln);
    e.dataOffset = l + 30 + ln + lm;
    a.entries.push_back(e);
    at += 46 + n + m + k;
  }
  a.ok = at == a.centralOffset + a.centralSize && at == a.endOffset;
  return a;
}

}  // namespace writertest
