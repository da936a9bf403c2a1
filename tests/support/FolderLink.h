#pragma once
// A symbolic link to a folder, the kind of entry the folder walk must not follow, for as long as
// the owner lives; the link itself is removed at the end (a tree removal that walked through it
// would never end when it leads upwards). On Windows making one takes the right to create
// symbolic links. Under Wine, whose CreateSymbolicLinkW makes nothing and which can remove no
// Unix link to a folder, the host's ln and rm do both; Wine shows such a link as a directory
// reparse point.

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
// <windows.h> maps these names to its A/W functions; in the tests they are the platform layer's.
#undef GetFileAttributes
#undef SetFileAttributes

#include <chrono>
#include <functional>
#include <thread>
#endif

namespace testsupport {

class FolderLink {
 public:
  FolderLink(const std::filesystem::path& target, const std::filesystem::path& link) : link_(link) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directory_symlink(target, link, ec);
    if (!ec && fs::is_symlink(fs::symlink_status(link, ec))) return;
#ifdef _WIN32
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
      failure_ = "no right to create symbolic links";
      return;
    }
    byHost_ = true;
    if (!RunOnHost(L"Z:\\bin\\ln", L"ln -s " + UnixName(target) + L" " + UnixName(link),
                   [&] { return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }))
      failure_ = "the host's ln made no link under Wine";
#else
    failure_ = ec ? ec.message() : "no link";
#endif
  }
  ~FolderLink() {
#ifdef _WIN32
    if (byHost_) {
      RunOnHost(L"Z:\\bin\\rm", L"rm -f " + UnixName(link_),
                [&] { return ::GetFileAttributesW(link_.c_str()) == INVALID_FILE_ATTRIBUTES; });
      return;
    }
#endif
    std::error_code ec;
    std::filesystem::remove(link_, ec);
  }
  FolderLink(const FolderLink&) = delete;
  FolderLink& operator=(const FolderLink&) = delete;

  // Empty when the link is there; otherwise why it could not be made.
  const std::string& Failure() const { return failure_; }

 private:
#ifdef _WIN32
  // The host's name of a path, quoted for the command line.
  static std::wstring UnixName(const std::filesystem::path& path) {
    using Converter = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Converter>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = convert == nullptr ? nullptr : convert(std::filesystem::absolute(path).c_str());
    const std::wstring quoted = L"\"" + std::filesystem::path(name == nullptr ? "" : name).wstring() + L"\"";
    if (name != nullptr) ::HeapFree(::GetProcessHeap(), 0, name);
    return quoted;
  }
  // Starts a host program; Wine does not wait for one, so this looks until `done` holds.
  static bool RunOnHost(const wchar_t* program, std::wstring command, const std::function<bool()>& done) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int i = 0; i < 100 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
  }

  bool byHost_ = false;
#endif
  std::filesystem::path link_;
  std::string failure_;
};

}  // namespace testsupport
