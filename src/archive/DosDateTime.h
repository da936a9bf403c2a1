#pragma once
// DOS date-time values of archive entries (time in the low 16 bits, date in the high 16 bits, in
// local time): packing, unpacking, the normalising of out-of-range fields, and reading and
// setting the modification time of files in that form. Shared by the archive reader and writer.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "archive/FileIo.h"
#include "platform/Clock.h"

namespace archive {

struct DosDateTime {
  // Packs a local date-time. Seconds are stored halved (odd seconds round down); a date before
  // 1980 becomes 1980-01-01 00:00:00 and one after 2107 becomes 2107-12-31 23:59:58, the limits
  // of the format.
  static std::uint32_t ToDos(const platform::LocalDateTime& t);
  // Unpacks the fields as stored, without normalising.
  static platform::LocalDateTime FromDos(std::uint32_t dos);

  // Normalises field by field: hour above 23 becomes 23, minute above 59 becomes 59, seconds
  // above 59 become 58 (field 29), year above 2099 becomes 2099, month 0 becomes 1 and above 12
  // becomes 12, day 0 becomes 1. A value whose fields are all in range is returned unchanged.
  static std::uint32_t NormaliseDos(std::uint32_t dos);

  // Conversions to and from calendar time (seconds since the epoch), in local time. FromTime
  // normalises nothing; ToTime normalises first.
  static std::uint32_t FromTime(std::time_t t);
  static std::time_t ToTime(std::uint32_t dos);

  // The last-write time of a file or directory (by path or open file), in DOS form;
  // nullopt when it cannot be read.
  static std::optional<std::uint32_t> FileTime(const std::string& path);
  static std::optional<std::uint32_t> FileTime(fileio::NativeFile file);
  // Sets a file's modification (and access) time from a DOS value, normalised first and taken as
  // local time. False when the file cannot be changed.
  static bool SetFileTime(const std::string& path, std::uint32_t dos);
  static bool SetFileTime(fileio::NativeFile file, std::uint32_t dos);

  // The current local time in DOS form (through the replaceable clock).
  static std::uint32_t Now();
};

}  // namespace archive
