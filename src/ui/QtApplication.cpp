#include "ui/QtApplication.h"

#include "ui/QtDialogs.h"

namespace ui {

std::unique_ptr<QApplication> InitApplication(const char* programName) {
  // QApplication keeps referring to its argument count and vector: they outlive it.
  static int argc = 1;
  static char* argv[2] = {nullptr, nullptr};
  argc = 1;
  argv[0] = const_cast<char*>(programName);
  auto application = std::make_unique<QApplication>(argc, argv);
  InstallQtChineseTexts();
  return application;
}

}  // namespace ui
