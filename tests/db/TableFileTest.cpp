// The TableFile on its own: what ADO writes loads with the right field types and values, what we
// write reads back unchanged, and broken files are refused with a clear error.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db/DbQuery.h"
#include "db/DbRowSource.h"
#include "db/TableFileError.h"
#include "db/TableFileReader.h"
#include "db/TableFileWriter.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace db;
using testsupport::TempDir;

namespace {

std::string FixturePath(const std::string& name) {
  const char* src = std::getenv("DM_SOURCE_DIR");
  return std::string(src && *src ? src : DM_TEST_SOURCE_DIR) + "/tests/data/tablefiles/" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

DbColumn Col(std::string name, TFieldType type, std::int64_t size = 0, int precision = 0, int scale = 0) {
  DbColumn c;
  c.name = std::move(name);
  c.type = type;
  c.size = size;
  c.precision = precision;
  c.scale = scale;
  return c;
}

using Cell = std::optional<std::string>;

void WriteTable(const std::string& path, const std::vector<DbColumn>& columns, const std::vector<std::vector<Cell>>& rows) {
  TableFileWriter writer(path, columns);
  DbRow row;
  for (const auto& cells : rows) {
    row.Reset(columns.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (cells[i]) {
        row.values[i] = *cells[i];
        row.nulls[i] = 0;
      }
    }
    writer.WriteRow(row);
  }
  writer.Finish();
}

// The process's peak memory so far, in kB.
long PeakMemoryKb() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

std::vector<std::vector<Cell>> ReadRows(TDbQuery& q) {
  std::vector<std::vector<Cell>> rows;
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<Cell> cells;
    for (int i = 0; i < q.FieldCount(); ++i) cells.push_back(q.IsNull(i) ? Cell() : Cell(q.AsString(i)));
    rows.push_back(cells);
  }
  return rows;
}

const std::string kRoot =
    "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'"
    " xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>";
// A one-line schema of ID (int) and NAME (string), then rs:data on line 2.
const std::string kIdName =
    kRoot + "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>"
            "<s:AttributeType name='ID' rs:number='1'><s:datatype dt:type='int' dt:maxLength='4'/></s:AttributeType>"
            "<s:AttributeType name='NAME' rs:number='2'><s:datatype dt:type='string'/></s:AttributeType>"
            "<s:extends type='rs:rowbase'/></s:ElementType></s:Schema>\r\n<rs:data>\r\n";

struct ReadCase {
  std::string source;  // a fixture's name, or the text of a file
  std::vector<std::pair<std::string, TFieldType>> columns;
  std::vector<std::vector<Cell>> rows;
};

}  // namespace

TEST(TableFileAdo, DocumentedExampleLoadsWithNullsAndRowCount) {
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_shippers.xml"));
  ASSERT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(q.RecNo(), 1);
  ASSERT_EQ(q.FieldCount(), 3);
  EXPECT_EQ(q.FieldName(0), "ShipperID");
  EXPECT_EQ(q.DataType(0), TFieldType::ftInteger);
  EXPECT_EQ(q.DataType(1), TFieldType::ftWideString);
  auto rows = ReadRows(q);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][2], Cell("(503) 555-9831"));
  EXPECT_EQ(rows[2][1], Cell("Federal Shipping"));
  EXPECT_EQ(rows[2][2], Cell());

  const auto schema = ReadTableFileSchema(FixturePath("ado_shippers.xml"));
  ASSERT_EQ(schema.size(), 3u);
  EXPECT_EQ(schema[0].name, "ShipperID");
  EXPECT_EQ(schema[1].type, TFieldType::ftWideString);
}

TEST(TableFileAdo, EveryDataTypeMapsToItsFieldType) {
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_types.xml"));
  const std::vector<std::pair<std::string, TFieldType>> expected = {
      {"Order ID", TFieldType::ftAutoInc}, {"small", TFieldType::ftSmallint}, {"big", TFieldType::ftLargeint},
      {"tiny", TFieldType::ftWord}, {"amount", TFieldType::ftBCD}, {"price", TFieldType::ftCurrency},
      {"ratio", TFieldType::ftFloat}, {"r", TFieldType::ftSingle}, {"flag", TFieldType::ftBoolean},
      {"name", TFieldType::ftString}, {"code", TFieldType::ftFixedChar}, {"wname", TFieldType::ftWideString},
      {"wcode", TFieldType::ftWideString}, {"memo", TFieldType::ftMemo}, {"wmemo", TFieldType::ftWideMemo},
      {"stamp", TFieldType::ftDateTime}, {"day", TFieldType::ftDate}, {"clock", TFieldType::ftTime},
      {"raw", TFieldType::ftBytes}, {"vraw", TFieldType::ftVarBytes}, {"blob", TFieldType::ftBlob},
      {"guid", TFieldType::ftGuid}, {"备注 (说明)", TFieldType::ftWideString}};
  ASSERT_EQ(q.FieldCount(), static_cast<int>(expected.size()));
  for (int i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(q.FieldName(i), expected[i].first) << i;
    EXPECT_STREQ(FieldTypeName(q.DataType(i)), FieldTypeName(expected[i].second)) << expected[i].first;
  }
}

TEST(TableFileAdo, ValuesComeBackInTheirAsStringForm) {
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_types.xml"));
  ASSERT_EQ(q.RecordCount(), 2);
  const std::vector<std::pair<int, std::string>> expected = {
      {0, "1"}, {1, "-32768"}, {2, "9223372036854775807"}, {4, "-12345.67"}, {5, "922337203685477.5807"},
      {6, "0.1"}, {8, "True"}, {9, "O'Brien & <Sons>"}, {10, "ABC   "}, {11, "单元格 \"一\""},
      {13, "line1\r\nline2"}, {14, "😀 tab\tend"}, {15, "2013-06-15 08:30:00.123"}, {16, "2013-06-15"},
      {17, "23:59:59"}, {18, std::string("\x00\xff\x10\xab", 4)}, {19, "\xde\xad\xbe\xef"}, {20, ""},
      {21, "{8AC68D3D-8A09-4403-8860-D0E494BBE894}"}, {22, "说明: a:b"}};
  for (const auto& [i, value] : expected) EXPECT_EQ(q.AsString(i), value) << q.FieldName(i);
  q.Next();
  EXPECT_EQ(q.RecNo(), 2);
  EXPECT_EQ(q.AsString(8), "False");
  EXPECT_TRUE(q.IsNull(1));
  EXPECT_EQ(q.AsString(1), "");
  q.Next();
  EXPECT_TRUE(q.Eof());
}

TEST(TableFileRoundTrip, NamesTypesValuesAndNullsSurvive) {
  TempDir dir;
  const std::vector<DbColumn> columns = {
      Col("id", TFieldType::ftInteger), Col("small", TFieldType::ftSmallint), Col("big", TFieldType::ftLargeint),
      Col("amount", TFieldType::ftBCD, 18, 18, 2), Col("ratio", TFieldType::ftFloat), Col("r", TFieldType::ftSingle),
      Col("ok", TFieldType::ftBoolean), Col("name", TFieldType::ftString, 50), Col("code", TFieldType::ftFixedChar, 6),
      Col("wname", TFieldType::ftWideString, 500), Col("wcode", TFieldType::ftWideString, 1),
      Col("memo", TFieldType::ftMemo), Col("wmemo", TFieldType::ftWideMemo), Col("stamp", TFieldType::ftDateTime, 26, 0, 6),
      Col("day", TFieldType::ftDate), Col("clock", TFieldType::ftTime), Col("raw", TFieldType::ftBytes, 4),
      Col("vraw", TFieldType::ftVarBytes, 10), Col("content", TFieldType::ftBlob), Col("guid", TFieldType::ftGuid),
      Col("auto", TFieldType::ftAutoInc), Col("money", TFieldType::ftCurrency), Col("w", TFieldType::ftWord)};
  const std::string allBytes = [] {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
  }();
  const std::vector<std::vector<Cell>> rows = {
      {"1", "-5", "-9223372036854775808", "-4876.55", "0.1", "3.4028235e+38", "True", "O'Brien \"x\" <a> & b",
       "AB    ", "单元格 😀 𠀀", "是", "line1\nline2\r\nline3\rend", "tab\there  two  spaces ", "2012-01-01 08:37:13.123456",
       "1999-12-31", "12:34:56.789", std::string("\0\x01\xfe\xff", 4), "", allBytes, "57F3963B-A903-4F75-B8A6-85E768C0ACF8",
       "7", "12.3400", "65535"},
      {"2", Cell(), Cell(), Cell(), Cell(), Cell(), Cell(), Cell(), Cell(), "", Cell(), "", Cell(), Cell(), Cell(),
       Cell(), Cell(), Cell(), Cell(), Cell(), "8", Cell(), Cell()},
      {"3", "0", "0", "0.00", "-1e-300", "NaN", "False", " ", "x     ", "  leading and trailing  ", " ", ":name :1", "&amp;",
       "0001-01-01 00:00:00", "0001-01-01", "00:00:00", std::string(4, '\0'), std::string("\0", 1), "", Cell(), "9", "0.0000", "0"}};
  const std::string path = dir / "RT.xml";
  WriteTable(path, columns, rows);

  TDbQuery q;
  q.LoadFromFile(path);
  ASSERT_EQ(q.FieldCount(), static_cast<int>(columns.size()));
  for (int i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(q.FieldName(i), columns[i].name);
    EXPECT_STREQ(FieldTypeName(q.DataType(i)), FieldTypeName(columns[i].type)) << columns[i].name;
  }
  EXPECT_EQ(q.RecordCount(), 3);
  EXPECT_EQ(ReadRows(q), rows);
}

TEST(TableFileRoundTrip, NamesThatAreNotXmlNamesAreWrittenAsCnWithTheRealNameKept) {
  TempDir dir;
  // Names are checked on their characters: letters of any script are name characters, while
  // U+00A5, U+00D7, the ideographic space U+3000 and a leading U+00B7 are not.
  const std::vector<std::string> names = {"c1", "order id", "1st", "a:b", "c1", "xmlns", "名称", "", "价格¥", "a×b",
                                          "名称\u3000", "·x", "x·y", "naïve", "数据_2"};
  const std::vector<bool> plain = {true, false, false, false, false, false, true, false, false, false,
                                   false, false, true, true, true};
  std::vector<DbColumn> columns;
  std::vector<Cell> values;
  for (std::size_t i = 0; i < names.size(); ++i) {
    columns.push_back(Col(names[i], TFieldType::ftInteger));
    values.push_back(std::to_string(i + 1));
  }
  const std::string path = dir / "names.xml";
  WriteTable(path, columns, {values});
  const std::string text = ReadAll(path);
  for (std::size_t i = 1; i < names.size(); ++i) {
    if (names[i] == "c1") continue;  // written twice: once as it is, once renamed
    EXPECT_EQ(text.find("<s:AttributeType name=\"" + names[i] + "\"") != std::string::npos, plain[i]) << names[i];
    EXPECT_EQ(text.find("rs:name=\"" + names[i] + "\"") != std::string::npos, !plain[i]) << names[i];
  }

  TDbQuery q;
  q.LoadFromFile(path);
  ASSERT_EQ(q.FieldCount(), static_cast<int>(names.size()));
  for (int i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(q.FieldName(i), names[i]);
    EXPECT_EQ(q.AsString(i), std::to_string(i + 1));
  }
}

TEST(TableFileRoundTrip, WritesTheRowsetLayout) {
  TempDir dir;
  const std::string path = dir / "layout.xml";
  const std::vector<std::vector<Cell>> rows = {{"7", "1.50", "x", "2012-01-01 08:37:13", "\x01\xab", "True"},
                                               {"8", Cell(), Cell(), Cell(), Cell(), Cell()},
                                               {"9", Cell(), Cell(), "12345-06-07 08:09:10", Cell(), "False"}};
  WriteTable(path, {Col("id", TFieldType::ftInteger), Col("amount", TFieldType::ftBCD, 18, 18, 2),
                    Col("name", TFieldType::ftString, 40), Col("stamp", TFieldType::ftDateTime, 26, 0, 6),
                    Col("content", TFieldType::ftBlob), Col("ok", TFieldType::ftBoolean)},
             rows);
  const std::string text = ReadAll(path);
  for (const char* needle :
       {"xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\"", "xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\"",
        "xmlns:rs=\"urn:schemas-microsoft-com:rowset\"", "xmlns:z=\"#RowsetSchema\"", "<s:Schema id=\"RowsetSchema\">",
        "<s:ElementType name=\"row\" content=\"eltOnly\" rs:updatable=\"true\">",
        "dt:type=\"int\" dt:maxLength=\"4\" rs:precision=\"10\" rs:fixedlength=\"true\"",
        "dt:type=\"number\" rs:dbtype=\"numeric\" dt:maxLength=\"19\" rs:precision=\"18\" rs:scale=\"2\"",
        "dt:type=\"string\" rs:dbtype=\"str\" dt:maxLength=\"40\"", "dt:type=\"dateTime\" rs:dbtype=\"timestamp\"",
        "dt:type=\"bin.hex\" dt:maxLength=\"2147483647\" rs:long=\"true\"", "<s:extends type=\"rs:rowbase\"/>",
        "<rs:data>", "<z:row id=\"7\" amount=\"1.50\" name=\"x\" stamp=\"2012-01-01T08:37:13\" content=\"01ab\" ok=\"True\"/>",
        "<z:row id=\"8\"/>", "<z:row id=\"9\" stamp=\"12345-06-07T08:09:10\" ok=\"False\"/>", "</rs:data>", "</xml>"}) {
    EXPECT_NE(text.find(needle), std::string::npos) << needle << "\n" << text;
  }
  TDbQuery q;
  q.LoadFromFile(path);
  EXPECT_EQ(ReadRows(q), rows);
}

// Whatever a text column holds is written so that ADO and this reader give back the same
// characters: TAB, LF and CR as references (a raw one would not survive a reader that normalises),
// the other control characters raw as ADO writes them, the markup characters as ADO's references.
TEST(TableFileRoundTrip, EveryCharacterATextColumnHoldsComesBackExactly) {
  TempDir dir;
  std::string every;
  for (int c = 0; c < 0x20; ++c) every.push_back(static_cast<char>(c));
  every += "\x7f\xc2\x80\xc2\x9f\xef\xbf\xbe\xef\xbf\xbf\"'<&> \xf0\x9f\x98\x80";
  std::vector<std::vector<Cell>> rows = {{"0", every, every}};
  for (int c = 0; c < 0x20; ++c) {
    rows.push_back({std::to_string(c + 1), std::string(1, static_cast<char>(c)), "a" + std::string(1, static_cast<char>(c)) + "b"});
  }
  const std::vector<DbColumn> columns = {Col("id", TFieldType::ftInteger), Col("w", TFieldType::ftWideString, 100),
                                         Col("m", TFieldType::ftMemo)};
  const std::string path = dir / "controls.xml";
  WriteTable(path, columns, rows);
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find(std::string("\x07\x08&#x9;&#xa;\x0b\x0c&#xd;\x0e", 14)), std::string::npos);
  EXPECT_NE(text.find("&#x22;&#x27;&#x3c;&#x26;&#x3e;"), std::string::npos);
  TDbQuery q;
  q.LoadFromFile(path);
  EXPECT_EQ(ReadRows(q), rows);
  q.Close();  // an open query reads from its file, which Windows keeps from being deleted meanwhile

  // Bytes that are no UTF-8 are no characters: refused, naming the column and row, no file left.
  for (const std::string& bad : {std::string("bad \xff utf-8"), std::string("\xe5\x8d"), std::string("\xed\xa0\x80")}) {
    try {
      WriteTable(path, columns, {{"1", "fine", "fine"}, {"2", bad, ""}});
      ADD_FAILURE() << "no error";
    } catch (const ETableFileError& e) {
      EXPECT_NE(std::string(e.what()).find("\"w\""), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("row 2"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST(TableFileRoundTrip, AnEmptyResultLoadsAsEmpty) {
  TempDir dir;
  const std::string path = dir / "empty.xml";
  WriteTable(path, {Col("id", TFieldType::ftInteger)}, {});
  TDbQuery q;
  q.LoadFromFile(path);
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_EQ(q.FieldCount(), 1);
}

TEST(TableFileRoundTrip, SavingALoadedFileWritesTheSameRows) {
  TempDir dir;
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_types.xml"));
  q.Next();  // saving starts from the first row whatever the position
  q.SaveToFile(dir / "copy.XML");
  TDbQuery copy;
  copy.LoadFromFile(dir / "copy.XML");
  ASSERT_EQ(copy.FieldCount(), q.FieldCount());
  for (int i = 0; i < q.FieldCount(); ++i) {
    EXPECT_EQ(copy.FieldName(i), q.FieldName(i));
    EXPECT_EQ(copy.DataType(i), q.DataType(i)) << q.FieldName(i);
  }
  EXPECT_EQ(ReadRows(copy), ReadRows(q));
}

TEST(TableFileRoundTrip, OtherExtensionsAreNotSupported) {
  TempDir dir;
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_shippers.xml"));
  try {
    q.SaveToFile(dir / "out.adtg", 0);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("format not supported"), std::string::npos) << e.what();
  }
}

// Folders and TableFiles are named in UTF-8 whatever the system's code page: on Windows the names
// reach the file system through its wide-character interface, so a Chinese name is stored as
// itself, written, replaced, read and (after a failed save) removed by that name.
TEST(TableFileRoundTrip, ChineseFolderAndFileNamesAreKept) {
  TempDir dir;
  const std::string folder = dir / "备份 工作目录";
  ASSERT_TRUE(std::filesystem::create_directory(platform::PathFromUtf8(folder)));
  const std::string path = folder + "/报表数据.xml";
  TDbQuery q;
  q.LoadFromFile(FixturePath("ado_shippers.xml"));
  q.SaveToFile(path);
  q.SaveToFile(path);  // the existing file is deleted first
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(platform::PathFromUtf8(folder)))
    names.push_back(platform::PathToUtf8(entry.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{"报表数据.xml"});
  TDbQuery copy;
  copy.LoadFromFile(path);
  EXPECT_EQ(ReadRows(copy), ReadRows(q));
  EXPECT_EQ(ReadTableFileSchema(path).size(), 3u);

  try {
    WriteTable(folder + "/名.xml", {Col("bad\xff\x01name", TFieldType::ftInteger)}, {});
    ADD_FAILURE() << "no error";
  } catch (const ETableFileError& e) {
    EXPECT_NE(std::string(e.what()).find("\"bad\\xff\\x01name\": the text is not valid UTF-8"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(platform::PathFromUtf8(folder + "/名.xml")));

  const std::string failed = folder + "/未完成.xml";
  EXPECT_THROW(WriteTable(failed, {Col("w", TFieldType::ftWideString, 10)}, {{"ok"}, {"\xff"}}), ETableFileError);
  EXPECT_FALSE(std::filesystem::exists(platform::PathFromUtf8(failed)));
}

// A TableFile cut at any byte (UTF-16 files inside a character too) is refused as a table-file
// error, without a crash, a hang, or memory growing with the attempts.
TEST(TableFileBroken, EveryTruncationIsRefused) {
  TempDir dir;
  const std::string path = dir / "cut.xml";
  [[maybe_unused]] const long before = PeakMemoryKb();  // unused under the sanitizer
  for (const char* fixture : {"ado_types.xml", "ado_text.xml", "ado_values.xml", "ado_unicode16.xml", "ado_pending.xml"}) {
    const std::string whole = ReadAll(FixturePath(fixture));
    // The file is complete with its last '>'; only line ends (of either width) may follow.
    const std::size_t complete = whole.find_last_not_of(std::string("\r\n\0", 3)) + 1;
    ASSERT_GT(complete, 100u) << fixture;
    for (std::size_t length = 0; length < complete; ++length) {
      // A new file each time: rewriting one in place makes the file system flush it to disk.
      std::filesystem::remove(path);
      WriteAll(path, whole.substr(0, length));
      TDbQuery q;
      EXPECT_THROW(q.LoadFromFile(path), ETableFileError) << fixture << " cut at " << length;
      EXPECT_FALSE(q.Active());
    }
  }
#ifndef __SANITIZE_ADDRESS__  // the sanitizer keeps freed memory in quarantine on purpose
  const long grown = PeakMemoryKb() - before;
  EXPECT_LT(grown, 64 * 1024) << "peak memory grew by " << grown << " kB";
#endif
}

#ifndef _WIN32
// The memory a load takes beyond what the process held before, in kB, measured in a child
// process whose peak is reset first; -1 when the system cannot reset it.
long LoadGrowthKb(const std::string& path, std::int64_t& rows) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    long result[2] = {-1, 0};
    auto status = [](const char* key) {
      std::ifstream in("/proc/self/status");
      std::string line;
      while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
      return -1L;
    };
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    if (reset) {
      const long before = status("VmRSS:");
      TDbQuery q;
      q.LoadFromFile(path);
      result[1] = static_cast<long>(ReadRows(q).size());
      result[0] = status("VmHWM:") - before;
    }
    [[maybe_unused]] const auto written = write(fds[1], result, sizeof result);
    _exit(0);
  }
  close(fds[1]);
  long result[2] = {-1, 0};
  const bool got = read(fds[0], result, sizeof result) == static_cast<ssize_t>(sizeof result);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  rows = result[1];
  return got ? result[0] : -1;
}

// A comment or processing instruction costs no memory for its length, before the root and
// between rows alike, also in the passes over change blocks that stand out of order.
TEST(TableFileBroken, A128MbCommentIsReadInLittleMemory) {
  TempDir dir;
  const std::string path = dir / "comment.xml";
  {
    std::ofstream out(path, std::ios::binary);
    const std::string chunk(1 << 20, '-');
    out << "<?xml version='1.0'?><!--";
    for (int i = 0; i < 64; ++i) out << chunk << "x";
    out << "-->" << kIdName << "<rs:insert><z:row ID='2'/></rs:insert><?pi ";
    for (int i = 0; i < 64; ++i) out << chunk << "?";
    out << "?><z:row ID='1'/></rs:data></xml>";
  }
  std::int64_t rows = 0;
  const long grown = LoadGrowthKb(path, rows);
  if (grown < 0) GTEST_SKIP() << "the peak memory of a process cannot be reset here";
  EXPECT_EQ(rows, 2);
  EXPECT_LT(grown, 8 * 1024) << "a load grew the process by " << grown << " kB";
}
#endif

// ADO describes every numeric column as "number"; a whole number of fewer than ten digits is an
// integer field, as when the column is read from the database.
TEST(TableFileAdo, SmallWholeNumbersAreIntegers) {
  TempDir dir;
  const std::string path = dir / "numbers.xml";
  WriteAll(path,
           "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'"
           " xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'>"
           "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>"
           "<s:AttributeType name='n9' rs:number='1'><s:datatype dt:type='number' rs:dbtype='numeric' rs:precision='9' rs:scale='0'/></s:AttributeType>"
           "<s:AttributeType name='n10' rs:number='2'><s:datatype dt:type='number' rs:dbtype='numeric' rs:precision='10' rs:scale='0'/></s:AttributeType>"
           "<s:AttributeType name='n92' rs:number='3'><s:datatype dt:type='number' rs:dbtype='numeric' rs:precision='9' rs:scale='2'/></s:AttributeType>"
           "</s:ElementType></s:Schema><rs:data><z:row n9='-123456789' n10='1e3' n92='1234567.89'/></rs:data></xml>");
  TDbQuery q;
  q.LoadFromFile(path);
  EXPECT_STREQ(FieldTypeName(q.DataType(0)), FieldTypeName(TFieldType::ftInteger));
  EXPECT_STREQ(FieldTypeName(q.DataType(1)), FieldTypeName(TFieldType::ftBCD));
  EXPECT_STREQ(FieldTypeName(q.DataType(2)), FieldTypeName(TFieldType::ftBCD));
  EXPECT_EQ(q.AsString(0), "-123456789");
  EXPECT_EQ(q.AsString(1), "1e3");
}

// What ADO refuses is refused, naming the file; where the reason and place are given, the message
// says them too (lines and columns count characters, and a raw line break inside a value counts).
TEST(TableFileBroken, ForeignAndMalformedFilesAreRefusedWithAReason) {
  TempDir dir;
  const std::string ns =
      " xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'"
      " xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:z='#RowsetSchema'";
  const std::string schema =
      "<s:Schema id='RowsetSchema'><s:ElementType name='row' content='eltOnly'>"
      "<s:AttributeType name='id' rs:number='1'><s:datatype dt:type='int'/></s:AttributeType>"
      "<s:AttributeType name='b' rs:number='2'><s:datatype dt:type='bin.hex'/></s:AttributeType>"
      "</s:ElementType></s:Schema>";
  struct Refused {
    std::string what, text, where = std::string();
  };
  // The root on line 1, the schema's one column on line 3, the rows on line 6.
  const std::string kTyped = kRoot + "\r\n";
  const auto column = [](const std::string& attributeType, const std::string& rows) {
    return "<s:Schema id='RowsetSchema'><s:ElementType name='row'>\r\n\t" + attributeType +
           "\r\n</s:ElementType></s:Schema>\r\n<rs:data>\r\n" + rows + "</rs:data></xml>";
  };
  const std::string kNumber9 =
      "<s:AttributeType name='x'><s:datatype dt:type='number' rs:precision='9' rs:scale='0'/></s:AttributeType>";
  const std::vector<Refused> cases = {
      {"the file ends too early", kIdName + "\t<z:row ID='1' NAME='ab", "(line 3, column 24)"},
      {"malformed tag", kIdName + "\t<z:row ID='1'NAME='x'/>\r\n</rs:data>\r\n</xml>\r\n", "(line 3, column 15)"},
      {"malformed reference", kIdName + "\t<z:row ID='1' NAME='a&#xZZ;'/>\r\n</rs:data>\r\n</xml>\r\n", "(line 3, column 23)"},
      {"not a whole number", kIdName + "\t<z:row ID='1'/>\r\n\t<z:row ID='12a'/>\r\n</rs:data>\r\n</xml>\r\n",
       "(line 4, column 13)"},
      {"not a whole number", kIdName + "\t<z:row ID='1' NAME='a\r\nb\rc\nd'/>\r\n\t<z:row ID=''/>\r\n</rs:data>\r\n</xml>\r\n",
       "(line 7, column 13)"},
      {"dt:type=\"variant\"",
       kRoot + "\r\n<s:Schema id='RowsetSchema'><s:ElementType name='row'>\r\n\t<s:AttributeType name='x'>\r\n"
               "\t\t<s:datatype dt:type='variant'/>\r\n\t</s:AttributeType>\r\n</s:ElementType></s:Schema><rs:data/></xml>",
       "(line 4, column 3)"},
      {"empty", ""},
      {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11)},
      {"html", "<html><body>not a table</body></html>"},
      {"wrong root", "<rows" + ns + ">" + schema + "<rs:data/></rows>"},
      {"no schema", "<xml" + ns + "><rs:data><z:row id='1'/></rs:data></xml>"},
      {"no data", "<xml" + ns + ">" + schema + "</xml>"},
      {"unknown column", "<xml" + ns + ">" + schema + "<rs:data><z:row id='1' other='2'/></rs:data></xml>"},
      {"bad hex", "<xml" + ns + ">" + schema + "<rs:data><z:row id='1' b='0g'/></rs:data></xml>"},
      {"letters in a number", "<xml" + ns + ">" + schema + "<rs:data><z:row id='12a'/></rs:data></xml>"},
      {"empty number", "<xml" + ns + ">" + schema + "<rs:data><z:row id=''/></rs:data></xml>"},
      {"odd hex", "<xml" + ns + ">" + schema + "<rs:data><z:row id='1' b='abc'/></rs:data></xml>"},
      {"unknown type", "<xml" + ns + "><s:Schema id='RowsetSchema'><s:ElementType name='row'><s:AttributeType name='x'>"
                       "<s:datatype dt:type='variant'/></s:AttributeType></s:ElementType></s:Schema><rs:data/></xml>"},
      {"undeclared prefix", "<xml><s:Schema/></xml>"},
      {"two roots", "<xml" + ns + ">" + schema + "<rs:data/></xml><xml/>"},
      {"text in data", "<xml" + ns + ">" + schema + "<rs:data>oops<z:row id='1'/></rs:data></xml>"},
      {"stray element", "<xml" + ns + ">" + schema + "<rs:data><z:row id='1'/><p/></rs:data></xml>"},
      {"bad entity", "<xml" + ns + ">" + schema + "<rs:data><z:row id='&bogus;'/></rs:data></xml>"},
      {"duplicate attribute", "<xml" + ns + ">" + schema + "<rs:data><z:row id='1' id='2'/></rs:data></xml>"},
      // Namespaces as XML scopes them: a prefix declared nowhere, or only on a sibling, is refused;
      // dt:type under a prefix bound to another URI is no data type, and a column needs one.
      {"the namespace prefix \"dt\" of an attribute is not declared",
       kRoot.substr(0, kRoot.find(" xmlns:dt")) + kRoot.substr(kRoot.find(" xmlns:rs")) + "\r\n" + column("<s:AttributeType name='x'><s:datatype dt:type='int'/></s:AttributeType>", ""),
       "(line 3, column 40)"},
      {"has no data type", kTyped + column("<s:AttributeType name='x'><s:datatype xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14883' dt:type='int'/></s:AttributeType>", ""),
       "(line 3, column 28)"},
      {"the namespace prefix \"q\" of an attribute is not declared",
       kTyped + column("<s:AttributeType name='x' xmlns:q='urn:q' q:a='1'><s:datatype dt:type='int'/></s:AttributeType>\r\n"
                       "\t<s:AttributeType name='y' q:a='1'><s:datatype dt:type='int'/></s:AttributeType>", ""),
       "(line 4, column 28)"},
      {"does not match", kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='int'/></s:attributeType>", ""), "(line 3, column 55)"},
      {"the attribute \"dt:type\" is given twice",
       kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='int' dt:type='string'/></s:AttributeType>", ""), "(line 3, column 54)"},
      {"the attribute \"d2:type\" is given twice",
       kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='int' d2:type='string' xmlns:d2='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'/></s:AttributeType>", ""),
       "(line 3, column 54)"},
      {"the attribute \"NAME\" is given twice",
       kIdName + "\t<z:row ID='1' rs:a1='' rs:a2='' rs:a3='' rs:a4='' rs:a5='' rs:a6='' rs:a7='' NAME='x' NAME='y'/>\r\n</rs:data></xml>",
       "(line 3, column 88)"},
      // Names and references are shown whole, whatever bytes they hold.
      {"the unknown column \"X\\x00Y\"", kIdName + "\t<z:row ID='1' X" + std::string(1, '\0') + "Y='2'/>\r\n</rs:data>\r\n</xml>\r\n",
       "(line 3, column 21)"},
      {"the reference \"&#0;\" stands for a character XML does not allow",
       kTyped + column("<s:AttributeType name='x' rs:name='S&#0;hipper'><s:datatype dt:type='int'/></s:AttributeType>", ""), "(line 3, column 38)"},
      {"the reference \"&#x1b;\" stands for", kIdName + "\t<z:row ID='1' NAME='&#x1b;'/>\r\n</rs:data></xml>", "(line 3, column 22)"},
      // Values the column cannot hold.
      {"out of the column's range", kIdName + "\t<z:row ID='2147483648'/>\r\n</rs:data></xml>", "(line 3, column 13)"},
      {"out of the column's range", kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='i2'/></s:AttributeType>", "<z:row x='-32769'/>"),
       "(line 6, column 11)"},
      {"out of the column's range", kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='ui1'/></s:AttributeType>", "<z:row x='-1'/>"),
       "(line 6, column 11)"},
      {"not a valid date or time",
       kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='dateTime'/></s:AttributeType>", "<z:row x='2003-13-45T99:99:99'/>"),
       "(line 6, column 11)"},
      {"not a valid date or time",
       kTyped + column("<s:AttributeType name='x'><s:datatype dt:type='dateTime'/></s:AttributeType>", "<z:row x='2003-02-29T00:00:00'/>"),
       "(line 6, column 11)"},
      {"not a whole number", kTyped + column(kNumber9, "<z:row x='5.5'/>"), "(line 6, column 11)"},
      {"not a whole number", kTyped + column(kNumber9, "<z:row x='1E-1'/>"), "(line 6, column 11)"},
      {"out of the column's range", kTyped + column(kNumber9, "<z:row x='1E9'/>"), "(line 6, column 11)"},
  };
  for (const auto& [what, text, where] : cases) {
    const std::string path = dir / "broken.xml";
    WriteAll(path, text);
    TDbQuery q;
    try {
      q.LoadFromFile(path);
      ADD_FAILURE() << what << ": loaded";
    } catch (const ETableFileError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("broken.xml"), std::string::npos) << what << ": " << message;
      if (!where.empty()) {
        EXPECT_NE(message.find(what), std::string::npos) << message;
        EXPECT_NE(message.find(where), std::string::npos) << message;
      }
    }
    EXPECT_FALSE(q.Active()) << what;
  }
}

TEST(TableFileBroken, AMissingFileIsReported) {
  TDbQuery q;
  try {
    q.LoadFromFile("/nonexistent/dir/rptreport.xml");
    ADD_FAILURE() << "loaded";
  } catch (const ETableFileError& e) {
    EXPECT_NE(std::string(e.what()).find("rptreport.xml"), std::string::npos) << e.what();
  }
}

TEST(TableFileBroken, AFileWithByteOrderMarkAndDeclarationStillLoads) {
  TempDir dir;
  const std::string path = dir / "bom.xml";
  WriteAll(path, "\xef\xbb\xbf<?xml version='1.0' encoding='utf-8'?>\r\n<!-- saved by hand -->\r\n" +
                     ReadAll(FixturePath("ado_shippers.xml")));
  TDbQuery q;
  q.LoadFromFile(path);
  EXPECT_EQ(q.RecordCount(), 3);
}

// Files as ADO writes them: CR LF line ends, long tags wrapped onto lines that start with tabs
// and a blank, TAB / CR / LF and other control characters raw inside values, UTF-16 with its
// byte-order mark, pending changes, the value forms of every type; and a file of the writer
// this one replaced. Each loads with its columns and exactly its characters.
TEST(TableFileAdo, FilesAsAdoWritesThemLoadAsAdoShowsThem) {
  using T = TFieldType;
  const std::vector<ReadCase> cases = {
      {"ado_text.xml",
       {{"ID", T::ftInteger}, {"NOTE", T::ftWideString}, {"备注 说明", T::ftMemo}, {"CODE", T::ftFixedChar}},
       {{"1", "line one\r\nline two", "tab\tbetween", "AB    "},
        {"2", "lone\nline feed, lone\rcarriage return", "bell\x07 vt\x0b us\x1f del\x7f soh\x01", "x     "},
        {"3", "\"quoted\" 'single' <tag> & amp", "名称 😀 𠀀", Cell()},
        {"4", "&<>\"' \t\n\r \t\n\r", "", "&     "},
        {"5", Cell(), Cell(), Cell()},
        {"6", " \r\n\t", "\r\n", Cell()}}},
      {"ado_values.xml",
       {{"ID", T::ftInteger}, {"F8", T::ftFloat}, {"R4", T::ftSingle}, {"AMOUNT", T::ftBCD}, {"PRICE", T::ftCurrency},
        {"FLAG", T::ftBoolean}, {"GUID", T::ftGuid}, {"RAW", T::ftBytes}, {"CODE", T::ftFixedChar},
        {"STAMP", T::ftDateTime}, {"DAY", T::ftDate}},
       {{"1", "0.10000000000000001", "3.4028231E+38", "0.0000", "922337203685477.5807", "True",
         "{8AC68D3D-8A09-4403-8860-D0E494BBE894}", std::string("\x00\xff\x10\xab", 4), "AB      ", "0100-01-01 00:00:00",
         "0100-01-01"},
        {"2", "-1.7976931348623157E+308", "-1.17549435E-38", "-0.5000", "-0.0001", "False", Cell(), "\xde\xad\xbe\xef",
         "        ", "9999-12-31 23:59:59", "9999-12-31"},
        {"3", "1E-3", Cell(), "12345678901234.5678", Cell(), Cell(), Cell(), Cell(), Cell(), Cell(), Cell()}}},
      {"ado_unicode16.xml",
       {{"报表名称", T::ftWideString}, {"单位", T::ftWideString}},
       {{"月报\r\n第二行 😀 <表>", "万元\x07"}, {Cell(), "𠀀\t"}}},
      // Updated rows with their current values (an absent attribute keeps the original, rs:forcenull
      // sets NULL), then unchanged rows, then inserted rows; deleted rows are not shown.
      {"ado_pending.xml",
       {{"ID", T::ftInteger}, {"NAME", T::ftWideString}, {"AMOUNT", T::ftBCD}, {"NOTE", T::ftWideString}},
       {{"2", "new two", "2.00", "n2"}, {"3", "three", "33.00", Cell()}, {"1", "one", "1.00", "n1"},
        {"4", "four", Cell(), Cell()}, {"5", "five", "5.00", "n5"}, {"6", "six", Cell(), Cell()}}},
      // The same order when the blocks stand elsewhere in the file.
      {kIdName + "<rs:insert><z:row ID='5'/></rs:insert><z:row ID='1'/><rs:delete><z:row ID='7'/></rs:delete>"
                 "<rs:update><rs:original><z:row ID='2' NAME='a'/></rs:original><z:row NAME='b'/></rs:update></rs:data></xml>",
       {{"ID", T::ftInteger}, {"NAME", T::ftWideString}},
       {{"2", "b"}, {"1", Cell()}, {"5", Cell()}}},
      // Namespaces declared where XML allows: dt on s:Schema, the default namespace, one URI under
      // two prefixes, a prefix bound again inside; references with many leading zeros.
      {kRoot.substr(0, kRoot.find(" xmlns:dt")) + " xmlns:rs='urn:schemas-microsoft-com:rowset' xmlns:r2='urn:schemas-microsoft-com:rowset' xmlns:z='urn:not-rows'>"
           "<s:Schema id='RowsetSchema' xmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'>"
           "<ElementType xmlns='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882' name='row'>"
           "<AttributeType name='ID' r2:number='1'><datatype dt:type='int'/></AttributeType>"
           "<AttributeType name='N' rs:name='NAME' rs:number='2'><datatype dt:type='string'/></AttributeType>"
           "</ElementType></s:Schema><r2:data xmlns:z='#RowsetSchema'>"
           "<z:row ID='&#x0000000000031;' N='&#0000000000065;&#x00000000042;' r2:forcenull=''/></r2:data></xml>",
       {{"ID", T::ftInteger}, {"NAME", T::ftWideString}},
       {{"1", "AB"}}},
      // UTF-16 without a byte-order mark, either byte order; a lone surrogate reads as U+FFFD.
      {"utf16le_without_mark.xml",
       {{"报表名称", T::ftWideString}, {"单位", T::ftWideString}},
       {{"月报\r\n第二行 😀 <表>", "万元\x07"}, {Cell(), "𠀀\t"}}},
      {"utf16be_lone_surrogates.xml",
       {{"报表名称", T::ftWideString}, {"单位", T::ftWideString}},
       {{"月报\r\n第二行 😀 <表>", "万\uFFFD元\x07"}, {Cell(), "\uFFFD𠀀\t"}}},
      // An update that holds only its original row: the row is unchanged.
      {kIdName + "<rs:update><rs:original><z:row ID='3' NAME='o'/></rs:original></rs:update><z:row ID='1'/></rs:data></xml>",
       {{"ID", T::ftInteger}, {"NAME", T::ftWideString}},
       {{"3", "o"}, {"1", Cell()}}},
      // A whole-number column saved as a number: a fraction of zeros and an exponent are whole.
      {kRoot + "<s:Schema id='RowsetSchema'><s:ElementType name='row'><s:AttributeType name='n'>"
               "<s:datatype dt:type='number' rs:dbtype='numeric' rs:precision='9' rs:scale='0'/></s:AttributeType>"
               "</s:ElementType></s:Schema><rs:data><z:row n='5.0'/><z:row n='.0000'/><z:row n='1E3'/><z:row n='-2.50E1'/>"
               "<z:row n='-0'/><z:row n='999999999'/></rs:data></xml>",
       {{"n", T::ftInteger}},
       {{"5"}, {"0"}, {"1000"}, {"-25"}, {"0"}, {"999999999"}}},
      {"written_before.xml",
       {{"id", T::ftInteger}, {"name x", T::ftString}, {"amount", T::ftBCD}},
       {{"1", "a&<>\"'\t\n\r", Cell()}}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const bool inline_ = c.source.front() == '<';
    const std::string path = inline_ ? dir / "inline.xml" : FixturePath(c.source);
    if (inline_) WriteAll(path, c.source);
    SCOPED_TRACE(inline_ ? "inline file" : c.source);
    TDbQuery q;
    q.LoadFromFile(path);
    const auto schema = ReadTableFileSchema(path);
    ASSERT_EQ(q.FieldCount(), static_cast<int>(c.columns.size()));
    ASSERT_EQ(schema.size(), c.columns.size());
    for (int i = 0; i < q.FieldCount(); ++i) {
      EXPECT_EQ(q.FieldName(i), c.columns[i].first);
      EXPECT_EQ(schema[i].name, c.columns[i].first);
      EXPECT_STREQ(FieldTypeName(q.DataType(i)), FieldTypeName(c.columns[i].second)) << c.columns[i].first;
    }
    EXPECT_EQ(q.RecordCount(), static_cast<int>(c.rows.size()));
    EXPECT_EQ(ReadRows(q), c.rows);
  }
}
