// DataMigration: moves the Norvale report data from a V3.1 installation to a V4.0 one.
// It reads no command-line arguments and no configuration file.

#include <QIcon>

#include "app/Application.h"
#include "app/TFImportDate.h"
#include "platform/Dialogs.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"

int main(int, char** argv) {
  const auto application = app::InitApplication(argv[0]);
  ui::QtEventPump events;

  ui::QtDialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);

  app::TFImportDate FImportDate;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
  FImportDate.show();
  return QApplication::exec();
}
