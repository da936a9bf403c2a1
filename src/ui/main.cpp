// DataMigration: moves the Norvale report data from a V3.1 installation to a V4.0 one.
// It reads no configuration file and no command-line argument but --version.

#include <QIcon>

#include "ui/QtApplication.h"
#include "ui/TFImportDate.h"
#include "platform/Dialogs.h"
#include "platform/ProgramVersion.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"

int main(int argc, char** argv) {
  // The one option: `DataMigration --version`. Every other argument is ignored.
  if (platform::HandleVersionOption(argc, argv, "DataMigration")) return 0;
  const auto application = ui::InitApplication(argv[0]);
  ui::QtEventPump events;

  ui::QtDialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);

  ui::TFImportDate FImportDate;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
  FImportDate.show();
  return QApplication::exec();
}
