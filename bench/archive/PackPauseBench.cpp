// How long the window goes without handling events while a folder is packed: the ArchiveWriter
// runs on the user-interface thread of a Qt application, as a backup runs it, and a 2 ms timer on
// that thread notes the longest time between two of its ticks.
//
//   archive_pause_bench FOLDER ARCHIVE [THREADS]
//
// Prints "pack <seconds> s, longest pause <milliseconds> ms". The archive is left in place.

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "archive/ArchiveWriter.h"
#include "ui/QtEventPump.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: archive_pause_bench FOLDER ARCHIVE [THREADS]\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  ui::QtEventPump events;  // the writer hands its waits to Qt, as in the program
  const std::string folder = argv[1];
  archive::ArchiveWriter writer;
  writer.FilesList = {folder + "/*.*"};
  writer.AddDirEntriesOnRecurse = true;
  writer.SetRelativePaths(true);
  writer.SetZipName(argv[2]);
  writer.Password = "Bench-Pass_2013";
  writer.PackThreads = argc > 3 ? std::stoi(argv[3]) : 0;

  Clock::time_point last = Clock::now();
  Clock::duration longest{};
  QTimer ticks;
  ticks.setInterval(2);
  ticks.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, now - last);
    last = now;
  });

  int status = 0;
  Clock::duration took{};
  QTimer::singleShot(0, [&] {
    ticks.start();
    last = Clock::now();
    const Clock::time_point start = last;
    try {
      writer.PackFiles();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "archive_pause_bench: %s\n", e.what());
      status = 1;
    }
    took = Clock::now() - start;
    longest = std::max(longest, Clock::now() - last);
    ticks.stop();
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  std::printf("pack %.2f s, longest pause %.1f ms\n", Millis(took) / 1000, Millis(longest));
  return status;
}
