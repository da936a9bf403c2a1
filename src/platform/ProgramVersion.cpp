#include "platform/ProgramVersion.h"

#include <cstdio>
#include <cstring>

#include "platform/GeneratedVersion.h"

namespace platform {

std::string ProgramVersion() { return DM_PROGRAM_VERSION; }

bool HandleVersionOption(int argc, char** argv, const char* program) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr || std::strcmp(argv[1], "--version") != 0) return false;
  std::printf("%s %s\n", program, DM_PROGRAM_VERSION);
  std::fflush(stdout);
  return true;
}

}  // namespace platform
