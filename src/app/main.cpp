// DataMigration: moves the Norvale report data from a V3.1 installation to a V4.0 one.

#include <QApplication>
#include <QIcon>

#include "app/TFImportDate.h"
#include "platform/Dialogs.h"
#include "ui/QtDialogs.h"
#include "ui/QtEventPump.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ui::QtEventPump events;
  QApplication::setApplicationDisplayName(QStringLiteral("Norvale数据迁移工具（V3.1-V4.0）"));

  ui::QtDialogs dialogs;
  platform::ScopedDialogs installed(&dialogs);

  app::TFImportDate FImportDate;
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.png")));
  FImportDate.show();
  return QApplication::exec();
}
