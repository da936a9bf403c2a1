// main() for test executables that need a QApplication: widgets and the event loop run on Qt's
// offscreen platform unless another one is asked for. A test that reads what the window system
// shows asks for Qt's X11 platform (QT_QPA_PLATFORM=xcb); without a display of its own it then
// gets a private X server (Xvfb, on the first free display) for its lifetime.
#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Starts Xvfb and points DISPLAY at it once it accepts clients; the server's pid, or 0.
pid_t StartXvfb() {
  int ends[2];
  if (pipe(ends) != 0) return 0;
  const std::string fd = std::to_string(ends[1]);
  const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24",
                        "-nolisten", "tcp", nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid = 0;
  close(ends[1]);
  std::string display = ":";
  for (char c; pid != 0 && read(ends[0], &c, 1) == 1 && c != '\n';) display += c;
  close(ends[0]);
  if (display.size() > 1) setenv("DISPLAY", display.c_str(), 1);
  return pid;
}

}  // namespace

#include "ui/QtEventPump.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const char* display = std::getenv("DISPLAY");
  const pid_t xvfb = std::string(std::getenv("QT_QPA_PLATFORM")) == "xcb" &&
                             (display == nullptr || *display == '\0')
                         ? StartXvfb()
                         : 0;
  int status = 0;
  {
    QApplication app(argc, argv);
    ui::QtEventPump events;
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  if (xvfb != 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }
  return status;
}
