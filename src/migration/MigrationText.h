#pragma once
// Small text rules shared by the backup, the restore and the record import.

#include <string>
#include <string_view>

namespace migration {

// Removes leading and trailing blanks and control characters (every byte up to ' ').
std::string TrimText(std::string_view text);

// Equality ignoring the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);

// The folder part of a path, up to and including its last separator (on Windows '/' or '\');
// empty without one.
std::string FolderPart(std::string_view path);

// The extension of a file name: from its last '.' to the end, empty without a '.'.
std::string ExtensionOf(std::string_view name);

// How the target reads a backslash inside '...': as itself (standard_conforming_strings on), or
// as the start of an escape sequence (the setting off, or a server that does not know it).
enum class TBackslashes { Literal, Escape };

// The text enclosed in single quotes, every single quote inside it doubled and, where the target
// reads backslashes as escapes, every backslash doubled too: the literal always means the text.
std::string QuotedText(std::string_view text, TBackslashes backslashes = TBackslashes::Literal);
// The same literal appended to `out`.
void AppendQuotedText(std::string& out, std::string_view text, TBackslashes backslashes);

// True for a plain SQL identifier (letters, digits, '_' and '$', starting with neither a digit nor
// '$') or several of them joined by '.'. As in the server's unquoted names, every well-formed
// UTF-8 character beyond ASCII counts as a letter (a V3.1 column may be named 金额（元）); ASCII
// quotes, blanks and punctuation, and bytes that are not UTF-8, make the name not plain. Only such
// names are put into generated statements.
bool IsPlainIdentifier(std::string_view name);

// True for an optional '-' followed by one or more decimal digits.
bool IsIntegerLiteral(std::string_view text);

}  // namespace migration
