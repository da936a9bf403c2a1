#pragma once
// Makes a symbolic link to a folder, the kind of entry the folder walk must not follow. On
// Windows that takes the right to create symbolic links; under Wine, whose CreateSymbolicLinkW
// makes nothing, the host's ln makes a Unix link, which Wine shows as a directory reparse point.

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <thread>
#endif

namespace testsupport {

// Empty when the link is there; otherwise why it could not be made.
inline std::string MakeFolderLink(const std::filesystem::path& target, const std::filesystem::path& link) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directory_symlink(target, link, ec);
  if (!ec && fs::is_symlink(fs::symlink_status(link, ec))) return {};
#ifdef _WIN32
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return "no right to create symbolic links";
  char* unixTarget = unixName(fs::absolute(target).c_str());
  char* unixLink = unixName(fs::absolute(link).c_str());
  std::wstring command = L"ln -s";
  for (const char* name : {unixTarget, unixLink})
    command += L" \"" + fs::path(name == nullptr ? "" : name).wstring() + L"\"";
  ::HeapFree(::GetProcessHeap(), 0, unixTarget);
  ::HeapFree(::GetProcessHeap(), 0, unixLink);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    return "the host's ln cannot be started under Wine";
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // Wine does not wait for a Unix program: look until the link shows.
  for (int i = 0; i < 100; ++i) {
    if (::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "the host's ln made no link under Wine";
#else
  return ec ? ec.message() : "no link";
#endif
}

}  // namespace testsupport
