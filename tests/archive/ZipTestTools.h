#pragma once
// Helpers for the archive tests: files in and out, running the real ZIP tools (Info-ZIP zip and
// unzip, 7z, python3's zipfile) and small hand-built archives for the reader's edge cases.

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/Crc32.h"
#include "archive/FileIo.h"
#include "archive/ZipCrypto.h"

namespace ziptest {

// A path from UTF-8 text: on Windows a plain std::string would be taken in the ANSI code page.
inline std::filesystem::path Native(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// UTF-8 text of a path, with '/' separators on every system.
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(Native(path).parent_path());
  std::ofstream(Native(path), std::ios::binary | std::ios::trunc) << content;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

// Runs a shell command; returns its exit status (-1 when it could not run). Output is discarded
// unless the command redirects it itself.
inline int Shell(const std::string& command) {
#ifdef _WIN32
  (void)command;  // the host's tools are run by scripts/test-windows.sh, not from inside Wine
  return -1;
#else
  const int rc = std::system(("( " + command + " ) >/dev/null 2>&1").c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
#endif
}

// The system's wording of "no such file" (ENOENT and ERROR_FILE_NOT_FOUND are both 2).
inline std::string NoSuchFileText() {
#ifdef _WIN32
  return archive::fileio::ErrorText(2);
#else
  return "No such file or directory";
#endif
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// Deterministic, moderately compressible text of `size` bytes.
inline std::string SampleText(std::size_t size, unsigned seed = 1) {
  std::string s;
  s.reserve(size);
  std::uint32_t x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += "<z:row ID='" + std::to_string(x % 100000) + "' NAME='item" + std::to_string((x >> 8) % 977) + "'/>\n";
  }
  s.resize(size);
  return s;
}

// Random bytes (incompressible).
inline std::string RandomBytes(std::size_t size, unsigned seed = 7) {
  std::string s(size, '\0');
  std::uint32_t x = seed;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// Files (relative path -> content) below `dir`, directories excluded.
inline std::vector<std::pair<std::string, std::string>> ListFiles(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Native(dir))) {
    if (e.is_regular_file()) files.emplace_back(Utf8(std::filesystem::relative(e.path(), Native(dir))), ReadFile(e.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Little-endian building of hand-made archives.
struct Bytes {
  std::string data;
  Bytes& u8(std::uint8_t v) { data.push_back(static_cast<char>(v)); return *this; }
  Bytes& u16(std::uint16_t v) { u8(v & 0xFF); return u8(v >> 8); }
  Bytes& u32(std::uint32_t v) { u16(v & 0xFFFF); return u16(v >> 16); }
  Bytes& u64(std::uint64_t v) { u32(static_cast<std::uint32_t>(v)); return u32(static_cast<std::uint32_t>(v >> 32)); }
  Bytes& str(const std::string& s) { data += s; return *this; }
  std::size_t size() const { return data.size(); }
};

inline void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline std::uint32_t Get32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}
inline std::uint16_t Get16(const std::string& s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

// One entry of a hand-built archive: stored (method 0) and unencrypted unless told otherwise.
struct HandEntry {
  std::string name;  // bytes as stored
  std::string data;  // bytes as stored after the local header
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t versionMadeBy = 20;  // host 0 (MS-DOS)
  std::uint32_t dosDateTime = 0x42EF5292;  // 2013-07-15 10:20:36
  std::int64_t crc = -1;                   // -1: the CRC of `data`
  std::int64_t uncompressedSize = -1;      // -1: the size of `data`
  std::uint32_t externalAttributes = 0x20;
  std::string extra = {};  // extra field, in the local and the central header alike
};

// A stored entry encrypted with `password` the way a streaming writer does it: flag bits 0 and 3,
// the encryption header's check byte the high byte of the DOS time word (`dosDateTime` as
// stored, which need not be a valid time).
inline HandEntry EncryptedStreamedEntry(const std::string& name, const std::string& plain,
                                        const std::string& password, std::uint32_t dosDateTime) {
  std::string data(12, '\x5A');
  data[11] = static_cast<char>((dosDateTime >> 8) & 0xFF);
  data += plain;
  archive::ZipKeys keys(password);
  keys.Encrypt(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
  HandEntry e{name, data};
  e.flags = 0x0009;
  e.dosDateTime = dosDateTime;
  e.crc = archive::Crc32Of(plain.data(), plain.size());
  e.uncompressedSize = static_cast<std::int64_t>(plain.size());
  return e;
}

// A single-file archive of `entries` with `comment`: local headers and data, the central
// directory in the same order, the end record.
inline std::string BuildArchive(const std::vector<HandEntry>& entries, const std::string& comment = "") {
  Bytes out;
  std::vector<std::uint32_t> offsets;
  for (const auto& e : entries) {
    offsets.push_back(static_cast<std::uint32_t>(out.size()));
    const std::uint32_t crc = e.crc >= 0 ? static_cast<std::uint32_t>(e.crc) : archive::Crc32Of(e.data.data(), e.data.size());
    const std::uint32_t usize = e.uncompressedSize >= 0 ? static_cast<std::uint32_t>(e.uncompressedSize) : static_cast<std::uint32_t>(e.data.size());
    out.u32(0x04034B50).u16(20).u16(e.flags).u16(e.method).u32(e.dosDateTime).u32(crc)
        .u32(static_cast<std::uint32_t>(e.data.size())).u32(usize)
        .u16(static_cast<std::uint16_t>(e.name.size())).u16(static_cast<std::uint16_t>(e.extra.size()))
        .str(e.name).str(e.extra).str(e.data);
  }
  const std::uint32_t cdOffset = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const std::uint32_t crc = e.crc >= 0 ? static_cast<std::uint32_t>(e.crc) : archive::Crc32Of(e.data.data(), e.data.size());
    const std::uint32_t usize = e.uncompressedSize >= 0 ? static_cast<std::uint32_t>(e.uncompressedSize) : static_cast<std::uint32_t>(e.data.size());
    out.u32(0x02014B50).u16(e.versionMadeBy).u16(20).u16(e.flags).u16(e.method).u32(e.dosDateTime).u32(crc)
        .u32(static_cast<std::uint32_t>(e.data.size())).u32(usize)
        .u16(static_cast<std::uint16_t>(e.name.size())).u16(static_cast<std::uint16_t>(e.extra.size()))
        .u16(0).u16(0).u16(0).u32(e.externalAttributes).u32(offsets[i]).str(e.name).str(e.extra);
  }
  const std::uint32_t cdSize = static_cast<std::uint32_t>(out.size()) - cdOffset;
  const auto n = static_cast<std::uint16_t>(entries.size());
  out.u32(0x06054B50).u16(0).u16(0).u16(n).u16(n).u32(cdSize).u32(cdOffset)
      .u16(static_cast<std::uint16_t>(comment.size())).str(comment);
  return out.data;
}

}  // namespace ziptest
