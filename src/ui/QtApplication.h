#pragma once
// The program's start-up, shared by DataMigration and the tools that show its windows
// (dm_screenshots, autopilot).

#include <QApplication>
#include <memory>

#include "app/MainLayout.h"

namespace ui {

// The application as the program entry initialises it: Qt is handed no command-line argument
// but the program's name (so options such as -reverse or -style change nothing), and Qt's
// Chinese texts are installed for the standard dialogs.
std::unique_ptr<QApplication> InitApplication(const char* programName);

}  // namespace ui
