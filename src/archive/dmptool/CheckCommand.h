#pragma once
// dmptool check: whether an archive would restore into a target, and whether a restore brought
// every row.

#include <string>

namespace dmptool {

struct CheckOptions {
  std::string archive;
  std::string password;
  std::string target;  // "bf" or "hy"; empty: the archive alone
  bool after = false;  // compare the target's rows with the archive's, after a restore
};

// Unpacks the archive into a temporary folder (removed afterwards, also when interrupted), reads
// every TableFile and, with a target, runs the restore's own look before the truncation (or, with
// `after`, compares row counts). Prints one line per TableFile and a summary line; returns the
// exit code: 0 when the restore would go through (all rows match), 1 when it would not (a count
// differs), 3 on any other failure.
int Check(const CheckOptions& options);

}  // namespace dmptool
