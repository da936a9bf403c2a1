#pragma once
// The exceptions of the archive reader and writer. Every one derives from EZipError, so a caller
// that must not let any archive failure pass (UnCompress) catches one class; the message is the
// English text that the archive components have always shown.
// Shared by the archive reader and writer.

#include <stdexcept>
#include <string>
#include <string_view>

namespace archive {

class EZipError : public std::runtime_error {
 public:
  explicit EZipError(const std::string& message) : std::runtime_error(message) {}
};

#define DM_ARCHIVE_ERROR(Name, Text)                                        \
  class Name : public EZipError {                                           \
   public:                                                                  \
    static constexpr const char* kDefaultMessage = Text;                    \
    Name() : EZipError(kDefaultMessage) {}                                  \
    explicit Name(const std::string& message) : EZipError(message) {}       \
  };

// The central directory is damaged and could not be rebuilt from the local headers.
DM_ARCHIVE_ERROR(EBadZipFile, "Not a valid zip file!")
// No end record: a truncated archive or one part of a multi-part set.
DM_ARCHIVE_ERROR(EIncompleteZip, "Incomplete Zip File")
// No end record, and the reader was told to take that as "not an archive".
DM_ARCHIVE_ERROR(ENotAZipFile, "Not a valid zip file!")
// The compressed data ends before the entry does.
DM_ARCHIVE_ERROR(EFatalUnzipError, "Premature end of file reached")
// A cancel request was honoured.
DM_ARCHIVE_ERROR(EUserCanceled, "User Aborted Operation")
// An entry decodes to more bytes than its stored uncompressed size.
DM_ARCHIVE_ERROR(EBiggerThanUncompressed, "File is larger than uncompressed size!")
// A write to an extracted file came up short.
DM_ARCHIVE_ERROR(ECantWriteUCF, "Cant write uncompressed file")
// Extraction into memory was cancelled (not used by this system's path).
DM_ARCHIVE_ERROR(ECanceledUnzipToBuffer, "Unzip to buffer canceled")
// zlib reported an error while compressing or decompressing.
DM_ARCHIVE_ERROR(EZCompressionError, "error")
// A write to the archive stored fewer bytes than requested.
DM_ARCHIVE_ERROR(ENotEnoughRoom, "Not enough room to write archive")
// Entry-list misuse: a duplicate entry or an index out of range.
DM_ARCHIVE_ERROR(EListError, "List error")
// A file could not be opened: "Cannot open file "<path>". <reason>".
DM_ARCHIVE_ERROR(EFOpenError, "Cannot open file")

#undef DM_ARCHIVE_ERROR

// "Cannot open file "<path>". <reason>" with the system's reason for the error code `err`.
EFOpenError MakeOpenError(const std::string& path, int err);
// An archive whose records contradict each other: "Not a valid zip file! The archive is
// damaged: <reason>".
EBadZipFile MakeDamagedError(const std::string& reason);
// "Index <index> is out of range".
EListError MakeIndexError(long long index);

// A name or path as it may be shown in a message: control bytes (a NUL, a line break, an escape
// sequence) become \xNN, so that a hostile entry name can neither cut nor forge the text.
std::string PrintableName(std::string_view name);

}  // namespace archive
