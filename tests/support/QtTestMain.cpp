// main() for test executables that need a QApplication: widgets and the event loop run on Qt's
// offscreen platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui/QtEventPump.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ui::QtEventPump events;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
