#pragma once
// The ODBC API headers, for the .cpp files of the database layer only. On Windows they rely on
// the types of <windows.h> (HWND, DWORD, ...) without including it themselves.

#ifdef _WIN32
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
