#include "archive/DosDateTime.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>

#ifdef _WIN32
#include "platform/Win32Text.h"
#endif

namespace archive {
namespace {

struct Fields {
  std::uint32_t year, month, day, hour, minute, halfSeconds;  // year as stored (since 1980)
};

Fields Split(std::uint32_t dos) {
  const std::uint32_t time = dos & 0xFFFF;
  const std::uint32_t date = dos >> 16;
  return {date >> 9, (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F, time & 0x1F};
}

std::uint32_t Join(const Fields& f) {
  const std::uint32_t date = (f.year << 9) | (f.month << 5) | f.day;
  const std::uint32_t time = (f.hour << 11) | (f.minute << 5) | f.halfSeconds;
  return (date << 16) | time;
}

platform::LocalDateTime FromTm(const std::tm& tm) {
  platform::LocalDateTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  return t;
}

bool ToLocal(std::time_t t, std::tm& tm) {
#ifdef _WIN32
  return localtime_s(&tm, &t) == 0;
#else
  return localtime_r(&t, &tm) != nullptr;
#endif
}

#ifdef _WIN32
// A file's last-write time is kept in UTC; the archive stores local time, as Windows tools do.
std::uint32_t FromFileTime(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME t;
  if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &t))
    return DosDateTime::ToDos(platform::LocalDateTime{});
  platform::LocalDateTime d;
  d.year = t.wYear;
  d.month = t.wMonth;
  d.day = t.wDay;
  d.hour = t.wHour;
  d.minute = t.wMinute;
  d.second = t.wSecond;
  return DosDateTime::ToDos(d);
}

std::optional<FILETIME> ToFileTime(std::uint32_t dos) {
  const platform::LocalDateTime d = DosDateTime::FromDos(DosDateTime::NormaliseDos(dos));
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(d.year);
  t.wMonth = static_cast<WORD>(d.month);
  t.wDay = static_cast<WORD>(d.day);
  t.wHour = static_cast<WORD>(d.hour);
  t.wMinute = static_cast<WORD>(d.minute);
  t.wSecond = static_cast<WORD>(d.second);
  FILETIME local, utc;
  if (!::SystemTimeToFileTime(&t, &local) || !::LocalFileTimeToFileTime(&local, &utc)) return std::nullopt;
  return utc;
}
#else
struct timespec ModificationTime(const struct stat& st) { return st.st_mtim; }
#endif

}  // namespace

std::uint32_t DosDateTime::ToDos(const platform::LocalDateTime& t) {
  if (t.year < 1980) return Join({0, 1, 1, 0, 0, 0});
  if (t.year > 2107) return Join({127, 12, 31, 23, 59, 29});
  Fields f{static_cast<std::uint32_t>(t.year - 1980),
           static_cast<std::uint32_t>(std::clamp(t.month, 1, 12)),
           static_cast<std::uint32_t>(std::clamp(t.day, 1, 31)),
           static_cast<std::uint32_t>(std::clamp(t.hour, 0, 23)),
           static_cast<std::uint32_t>(std::clamp(t.minute, 0, 59)),
           static_cast<std::uint32_t>(std::clamp(t.second, 0, 59) / 2)};
  return Join(f);
}

platform::LocalDateTime DosDateTime::FromDos(std::uint32_t dos) {
  const Fields f = Split(dos);
  platform::LocalDateTime t;
  t.year = static_cast<int>(f.year) + 1980;
  t.month = static_cast<int>(f.month);
  t.day = static_cast<int>(f.day);
  t.hour = static_cast<int>(f.hour);
  t.minute = static_cast<int>(f.minute);
  t.second = static_cast<int>(f.halfSeconds) * 2;
  return t;
}

std::uint32_t DosDateTime::NormaliseDos(std::uint32_t dos) {
  Fields f = Split(dos);
  bool changed = false;
  auto clampHigh = [&changed](std::uint32_t& v, std::uint32_t high) {
    if (v > high) {
      v = high;
      changed = true;
    }
  };
  auto clampLow = [&changed](std::uint32_t& v, std::uint32_t low) {
    if (v < low) {
      v = low;
      changed = true;
    }
  };
  clampHigh(f.hour, 23);
  clampHigh(f.minute, 59);
  clampHigh(f.halfSeconds, 29);  // 59 seconds, stored halved
  clampHigh(f.year, 2099 - 1980);
  clampLow(f.month, 1);
  clampHigh(f.month, 12);
  clampLow(f.day, 1);
  return changed ? Join(f) : dos;
}

std::uint32_t DosDateTime::FromTime(std::time_t t) {
  std::tm tm{};
  if (!ToLocal(t, tm)) return ToDos(platform::LocalDateTime{});
  return ToDos(FromTm(tm));
}

std::time_t DosDateTime::ToTime(std::uint32_t dos) {
  const platform::LocalDateTime t = FromDos(NormaliseDos(dos));
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

#ifdef _WIN32
std::optional<std::uint32_t> DosDateTime::FileTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(platform::win32::Widen(path).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return FromFileTime(data.ftLastWriteTime);
}

std::optional<std::uint32_t> DosDateTime::FileTime(fileio::NativeFile file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FromFileTime(info.ftLastWriteTime);
}

bool DosDateTime::SetFileTime(const std::string& path, std::uint32_t dos) {
  const HANDLE h = ::CreateFileW(platform::win32::Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool set = SetFileTime(h, dos);
  ::CloseHandle(h);
  return set;
}

bool DosDateTime::SetFileTime(fileio::NativeFile file, std::uint32_t dos) {
  const std::optional<FILETIME> t = ToFileTime(dos);
  return t && ::SetFileTime(file, nullptr, &*t, &*t) != 0;
}

#else
std::optional<std::uint32_t> DosDateTime::FileTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FromTime(ModificationTime(st).tv_sec);
}

std::optional<std::uint32_t> DosDateTime::FileTime(fileio::NativeFile fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FromTime(ModificationTime(st).tv_sec);
}

bool DosDateTime::SetFileTime(const std::string& path, std::uint32_t dos) {
  struct timespec times[2];
  times[0].tv_sec = ToTime(dos);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool DosDateTime::SetFileTime(fileio::NativeFile fd, std::uint32_t dos) {
  struct timespec times[2];
  times[0].tv_sec = ToTime(dos);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::futimens(fd, times) == 0;
}
#endif

std::uint32_t DosDateTime::Now() { return ToDos(platform::Clock().Now()); }

}  // namespace archive
