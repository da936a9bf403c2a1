// DataMigration: moves the Norvale report data from a V3.1 installation to a V4.0 one.
// It reads no command-line arguments and no configuration file.

#include <QIcon>

#include "ui/QtApplication.h"
#include "ui/TFImportDate.h"
#include "platform/Dialogs.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"

int main(int, char** argv) {
  const auto application = ui::InitApplication(argv[0]);
  ui::QtEventPump events;

  ui::QtDialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);

  ui::TFImportDate FImportDate;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
  FImportDate.show();
  return QApplication::exec();
}
