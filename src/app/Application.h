#pragma once
// The program's start-up, shared by DataMigration and the tools that show its windows
// (dm_screenshots, autopilot).

#include <QApplication>
#include <memory>

namespace app {

// The application title: the text of the main window's task-bar button, and the caption of the
// box that shows an exception no handler caught. Window captions are never extended with it.
inline constexpr const char* kApplicationTitle = "Norvale数据迁移工具（V3.1-V4.0）";

// The application as the program entry initialises it: Qt is handed no command-line argument
// but the program's name (so options such as -reverse or -style change nothing), and Qt's
// Chinese texts are installed for the standard dialogs.
std::unique_ptr<QApplication> InitApplication(const char* programName);

}  // namespace app
