#include "ui/Folders.h"

#include <QString>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace ui {

namespace {

// The kernel's own file systems: nothing a user keeps files on.
constexpr std::array<std::string_view, 22> kKernelFileSystems = {
    "proc",    "sysfs",       "devtmpfs",   "devpts",        "cgroup",    "cgroup2",
    "securityfs", "debugfs",  "tracefs",    "pstore",        "bpf",       "mqueue",
    "hugetlbfs", "configfs",  "fusectl",    "binfmt_misc",   "rpc_pipefs", "nsfs",
    "efivarfs", "selinuxfs",  "squashfs",   "fuse.gvfsd-fuse"};

// Areas of the system that hold mounts of its own (shared memory, sessions, boot partitions,
// packaged software); removable media mounted under /run/media still count.
constexpr std::array<std::string_view, 6> kSystemAreas = {"/proc", "/sys", "/dev",
                                                          "/run",  "/boot", "/snap"};

bool IsUnder(std::string_view path, std::string_view area) {
  return path == area || (path.size() > area.size() && path.substr(0, area.size()) == area &&
                          path[area.size()] == '/');
}

// The mount table writes blanks, tabs, line ends and backslashes as \ooo.
std::string Unescape(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() &&
        std::all_of(field.begin() + i + 1, field.begin() + i + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool IsDrive(const std::string& root, const std::string& mountPoint, const std::string& type) {
  if (std::find(kKernelFileSystems.begin(), kKernelFileSystems.end(), type) !=
      kKernelFileSystems.end()) {
    return false;
  }
  if (!IsUnder(mountPoint, "/run/media")) {
    for (std::string_view area : kSystemAreas) {
      if (IsUnder(mountPoint, area)) return false;
    }
  }
  // A btrfs volume is mounted by its subvolumes, whose root is never the volume's own.
  return root == "/" || type == "btrfs";
}

}  // namespace

std::vector<std::string> DrivesInMountTable(std::string_view mountinfo) {
  std::set<std::string> others;
  std::istringstream lines{std::string(mountinfo)};
  for (std::string line; std::getline(lines, line);) {
    // id parent major:minor root mount-point options [optional fields...] - type source ...
    std::istringstream in(line);
    std::vector<std::string> fields{std::istream_iterator<std::string>(in),
                                    std::istream_iterator<std::string>()};
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || std::next(dash) == fields.end()) continue;
    const std::string mountPoint = Unescape(fields[4]);
    if (mountPoint == "/" || !IsDrive(Unescape(fields[3]), mountPoint, *std::next(dash))) continue;
    others.insert(mountPoint);
  }
  std::vector<std::string> drives{"/"};
  drives.insert(drives.end(), others.begin(), others.end());
  return drives;
}

std::vector<std::string> ListDrives() {
  std::ifstream table("/proc/self/mountinfo");
  if (!table) return {"/"};
  std::ostringstream text;
  text << table.rdbuf();
  return DrivesInMountTable(text.str());
}

std::vector<std::string> ListSubfolders(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    std::error_code typeError;
    if (it->is_directory(typeError)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int order =
        QString::fromLocal8Bit(a).compare(QString::fromLocal8Bit(b), Qt::CaseInsensitive);
    return order < 0 || (order == 0 && a < b);
  });
  return names;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace ui
