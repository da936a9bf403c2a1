// autopilot: starts the real main window and drives it as a user would.
//
//   autopilot backup FOLDER [--screenshots DIR]
//   autopilot restore ARCHIVE [--answer yes|no] [--screenshots DIR]
//
// Chooses the mode with its radio button, the folder or archive through the browse button (the
// dialog answered with FOLDER or ARCHIVE), and presses the start button. Every message box is
// printed as it appears and answered: OK, or the given answer to the restore's question.
// Exit status: 0 when the procedure showed its success box, 1 when it showed any other box (or
// none), 2 on bad arguments.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QRadioButton>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "ui/QtApplication.h"
#include "ui/TFImportDate.h"
#include "ui/autopilot/AutopilotDialogs.h"
#include "platform/Dialogs.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"
#include "ui/TBmpButton.h"
#include "ui/TFmProgressBar.h"

namespace {

int Usage(const char* message) {
  std::fprintf(stderr,
               "autopilot: %s\n"
               "usage: autopilot backup FOLDER [--screenshots DIR]\n"
               "       autopilot restore ARCHIVE [--answer yes|no] [--screenshots DIR]\n",
               message);
  return 2;
}

struct Options {
  bool backup = true;
  std::string target;  // folder (backup) or archive (restore)
  bool answerYes = true;
  std::optional<std::string> screenshots;
};

// Saves pictures of the windows into the screenshot folder, numbered in the order taken.
class Camera {
 public:
  explicit Camera(std::optional<std::string> dir) : dir_(std::move(dir)) {
    if (dir_) QDir().mkpath(QString::fromStdString(*dir_));
  }

  void Take(QWidget* widget, const std::string& name) {
    if (!dir_ || widget == nullptr) return;
    const std::string path = *dir_ + "/" + Number() + "-" + name + ".png";
    if (widget->grab().save(QString::fromStdString(path))) {
      std::printf("[screenshot] %s\n", path.c_str());
      std::fflush(stdout);
    }
  }

  void TakeBox(const platform::ShownMessage& box) {
    if (!dir_) return;
    auto shown = ui::QtDialogs::BuildMessageBox(box.text, box.caption, box.style);
    shown->adjustSize();
    Take(shown.get(), "box");
  }

  bool enabled() const { return dir_.has_value(); }

 private:
  std::string Number() {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", ++count_);
    return buffer;
  }

  std::optional<std::string> dir_;
  int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }

  Options options;
  if (argc < 3) return Usage("missing arguments");
  const std::string mode = argv[1];
  if (mode == "backup") {
    options.backup = true;
  } else if (mode == "restore") {
    options.backup = false;
  } else {
    return Usage("the first argument is backup or restore");
  }
  options.target = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--answer" && i + 1 < argc && !options.backup) {
      const std::string answer = argv[++i];
      if (answer != "yes" && answer != "no") return Usage("--answer takes yes or no");
      options.answerYes = answer == "yes";
    } else if (arg == "--screenshots" && i + 1 < argc) {
      options.screenshots = std::filesystem::absolute(argv[++i]).string();
    } else {
      return Usage(("unexpected argument " + arg).c_str());
    }
  }
  std::error_code ec;
  options.target = std::filesystem::absolute(options.target, ec).lexically_normal().string();
  if (options.backup && options.target.size() > 1 && options.target.back() == '/') options.target.pop_back();

  const auto application = ui::InitApplication(argv[0]);
  ui::QtEventPump events;

  Camera camera(options.screenshots);
  ui::TFImportDate* window = nullptr;
  autopilot::AutopilotDialogs dialogs(
      options.backup ? std::optional<std::string>(options.target) : std::nullopt,
      options.backup ? std::nullopt : std::optional<std::string>(options.target), options.answerYes,
      [&](const platform::ShownMessage& box, int) {
        if (window == nullptr) return;
        camera.Take(window, "main");
        camera.Take(window->FmProgressBar(), "progress");
        camera.TakeBox(box);
      });
  platform::ScopedDialogs installed(&dialogs);

  ui::TFImportDate FImportDate;
  window = &FImportDate;
  FImportDate.show();

  // While the procedure runs, a picture of the progress window once it has something to show.
  bool progressTaken = false;
  QTimer watcher;
  watcher.setInterval(250);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    ui::TFmProgressBar* progress = FImportDate.FmProgressBar();
    if (progress != nullptr && progress->isVisible() && !progressTaken && FImportDate.Form().ProgressCount > 0) {
      progressTaken = true;
      camera.Take(progress, "progress");
    }
  });

  int status = 1;
  QTimer::singleShot(0, [&] {
    camera.Take(&FImportDate, "main");
    if (options.backup) {
      FImportDate.rbBackup->click();
    } else {
      FImportDate.rbRestore->click();
    }
    FImportDate.btnSelect->click();
    std::printf("[edtFile] %s\n", FImportDate.edtFile->text().toStdString().c_str());
    std::fflush(stdout);
    camera.Take(&FImportDate, "main");
    if (camera.enabled()) watcher.start();

    ui::TBmpButton* start = options.backup ? FImportDate.btnBeginBackup : FImportDate.btnBeginRestore;
    start->click();
    watcher.stop();
    camera.Take(&FImportDate, "main");

    const char* success = options.backup ? "数据备份完成！" : "数据还原完成！";
    bool succeeded = false;
    for (const auto& box : dialogs.Shown()) {
      if (box.text == success) succeeded = true;
    }
    status = succeeded ? 0 : 1;
    if (options.backup && succeeded) {
      std::printf("[archive] %s\n", FImportDate.edtFile->text().toStdString().c_str());
    }
    std::printf("[result] %s\n", succeeded ? "success" : "failure");
    std::fflush(stdout);
    FImportDate.close();
    QApplication::exit(status);
  });
  QApplication::exec();
  return status;
}
