#pragma once
// The two operations through which the backup and the restore reach the main window's archive
// writer and reader, and the derivation of the archive password.

#include <string>
#include <string_view>

namespace archive {

class ArchiveReader;
class ArchiveWriter;

// Derives a text of the same length from `text`: every byte is shifted by a running value that
// steps through 0..18, codes taken as unsigned bytes and wrapping past 255.
std::string BuildArchivePassword(std::string_view text);

// The ArchivePassword, derived afresh from the stored constant at every call. Callers hand it to
// the writer or reader and let it go; it is never shown, logged or traced.
std::string ArchivePassword();

// Packs the WorkDirectory `workDirectory` (no trailing separator) into the BackupArchive
// `archivePath` with the backup's settings. Exceptions of the writer pass to the caller; the
// archive is then absent (or, when one existed, unchanged), a file of the WorkDirectory that
// could not be read whole included.
void compress(ArchiveWriter& writer, const std::string& archivePath,
              const std::string& workDirectory);

// Unpacks the BackupArchive `archivePath` into `archiveFolder` + "/qimzorstatistics". Returns 0
// when every file entry of the archive was written, otherwise -99 (also when the reader raised,
// when the archive holds no file entry, or when an entry was skipped). Returns 0 at once, without
// touching anything, while the reader is busy. No exception leaves it.
int UnCompress(ArchiveReader& reader, const std::string& archivePath,
               const std::string& archiveFolder);

// UnCompress with the folder and the password given: unpacks `archivePath` flat into `destDir`
// with `password` (wiped afterwards), by the same rules and with the same result. dmptool's check
// unpacks an archive as the restore would.
int UnCompressInto(ArchiveReader& reader, const std::string& archivePath, const std::string& destDir,
                   std::string password);

}  // namespace archive
