#pragma once
// Drives and folders as the folder-selection dialog lists them. Paths are kept as the file system
// spells them (bytes, not necessarily UTF-8), so a folder whose name the locale cannot decode is
// still the folder the user picked.
//
// This platform has no drive letters: a drive is a whole file system mounted somewhere (the root
// "/", a second disk, a USB stick, a CD, a network share, a RAM disk). The drive list comes from
// the kernel's mount table alone; no mounted file system is asked anything, so a network share
// that stopped answering cannot hold whoever reads the list.

#include <string>
#include <string_view>
#include <vector>

namespace ui {

// Mount points of the drives in a mount table written like /proc/self/mountinfo: "/" first,
// then the others in byte order. Left out: the kernel's own file systems (proc, sysfs, cgroup,
// ...), the system's areas (/proc, /sys, /dev, /run other than /run/media, /boot, /snap), and
// mounts of a part of a file system (bind mounts of a folder or a single file).
std::vector<std::string> DrivesInMountTable(std::string_view mountinfo);

// The drives of this machine; "/" alone when the mount table cannot be read.
std::vector<std::string> ListDrives();

// The visible subfolders of `folder` (names not starting with '.'; links to folders count),
// sorted by name without regard to case. Empty when the folder cannot be read. May wait as long
// as the file system takes: call it away from the window thread.
std::vector<std::string> ListSubfolders(const std::string& folder);

// `folder` + "/" + `name`, with a single separator behind the root.
std::string JoinFolder(const std::string& folder, const std::string& name);

}  // namespace ui
