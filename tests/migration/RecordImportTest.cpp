// The record import's rules on real result sets that went through a TableFile, and the refusal of
// names that are not plain identifiers before any statement is built.
#include "migration/RecordImport.h"

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>

#include "MigrationTestHost.h"
#include "db/DbError.h"
#include "db/DbRowSource.h"
#include "db/TableFileWriter.h"
#include "support/TraceCapture.h"

namespace migration {
namespace {

using migrationtest::MigrationTestHost;

TEST(RecordImportNamesTest, TableNameIsTheFileNameWithoutItsExtension) {
  EXPECT_EQ(TableNameFromFile("rptreport.xml"), "rptreport");
  EXPECT_EQ(TableNameFromFile("a.b.xml"), "a.b");
  EXPECT_EQ(TableNameFromFile("noext"), "noext");
}

TEST(RecordImportNamesTest, TwoColumnRenamesIgnoringCase) {
  const struct {
    const char *table, *column, *used;
  } cases[] = {
      {"B01REPORT", "b0191", "DURATIONID"}, {"b01report", "B0191", "DURATIONID"},
      {"T_RPT_DURATION", "durationid", "ID"}, {"t_rpt_duration", "DurationId", "ID"},
      {"rptreport", "b0191", "b0191"},      {"rptreport", "durationid", "durationid"},
      {"B01REPORT", "durationid", "durationid"}, {"T_RPT_DURATION", "b0191", "b0191"},
  };
  for (const auto& c : cases) EXPECT_EQ(TargetColumnName(c.table, c.column), c.used) << c.table << "." << c.column;
}

class RecordImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.Connect("hy")) << "target stand-in not running (scripts/dbenv.sh start)";
    host.archivePath = dir / "20130615bak.dmp";
    std::filesystem::create_directories(dir / "qimzorstatistics");
  }

  // Saves the result of `sql` on the target as a TableFile in the WorkDirectory.
  void SaveTableFile(const std::string& sql, const std::string& fileName) {
    db::TDbQuery query(&host.conADOConParty());
    query.SQL().push_back(sql);
    query.Open();
    query.SaveToFile(dir / ("qimzorstatistics/" + fileName));
  }

  testsupport::TempDir dir;
  MigrationTestHost host;
};

TEST_F(RecordImportTest, ValueTextByFieldTypeAfterATableFile) {
  SaveTableFile(
      "select 7::int as i, null::int as ni, 123::numeric(9,0) as n9, 'O''Brien'::varchar(20) as s, "
      "null::varchar(20) as ns, 'ab'::char(2) as fc, null::char(2) as nfc, 'x:y ''q'''::text as memo, "
      "null::text as nmemo, 1.50::numeric(18,2) as bcd, null::numeric(18,2) as nbcd, "
      "'2013-06-15 08:00:00'::timestamp as ts, null::timestamp as nts, '\\x0102'::bytea as blob, "
      "null::bytea as nblob, 5::smallint as sm, null::smallint as nsm, 1.5::float8 as f, "
      "null::float8 as nf, date '2013-06-15' as d, null::date as nd",
      "values.xml");
  db::TDbQuery file;
  file.LoadFromFile(dir / "qimzorstatistics/values.xml");
  ASSERT_FALSE(file.IsEmpty());
  const struct {
    const char* column;
    bool included;
    const char* text;
  } expected[] = {
      {"i", true, "7"},        {"ni", true, "Null"},      {"n9", true, "123"},
      {"s", true, "'O''Brien'"}, {"ns", true, "''"},     {"fc", true, "'ab'"},
      {"nfc", true, "''"},     {"memo", true, "'x:y ''q'''"}, {"nmemo", true, "''"},
      {"bcd", true, "'1.50'"}, {"nbcd", true, "Null"},    {"ts", true, "'2013-06-15 08:00:00'"},
      {"nts", true, "Null"},   {"blob", false, ""},       {"nblob", false, ""},
      {"sm", true, "'5'"},     {"nsm", true, "Null"},     {"f", true, "'1.5'"},
      {"nf", true, "Null"},    {"d", true, "'2013-06-15'"}, {"nd", true, "Null"},
  };
  ASSERT_EQ(file.FieldCount(), static_cast<int>(std::size(expected)));
  for (int i = 0; i < file.FieldCount(); ++i) {
    const auto& e = expected[i];
    ASSERT_EQ(file.FieldName(i), e.column);
    bool included = true;
    const std::string text = ValueText(file, i, included, TBackslashes::Literal);
    EXPECT_EQ(included, e.included) << e.column << " " << db::FieldTypeName(file.DataType(i));
    if (e.included) {
      EXPECT_EQ(text, e.text) << e.column << " " << db::FieldTypeName(file.DataType(i));
    }
  }
}

TEST_F(RecordImportTest, HostileNamesAreRefusedBeforeAnyStatement) {
  DM_NEEDS_HOST_TOOLS("the target read through psql");
  const std::string before = migrationtest::Psql("hy", "select count(*) from rptreport");
  SaveTableFile("select 1 as id, 'x' as \"reportname) values (1,'y'); create table pwned(x int); --\"",
                "rptreport.xml");
  SaveTableFile("select 1 as id", "rptreport;create table pwned(x int).xml");
  SaveTableFile("select 1 as id", "1rptreport.xml");

  for (const char* name : {"rptreport.xml", "rptreport;create table pwned(x int).xml", "1rptreport.xml"}) {
    host.CreateProgressWindow();
    EXPECT_THROW(Restore(host, name), EUnsafeName) << name;
    EXPECT_FALSE(host.conADOConParty().InTransaction()) << name;
    host.ProgressWindow()->CloseWindow();
    host.DestroyProgressWindow();
  }
  EXPECT_EQ(migrationtest::Psql("hy", "select count(*) from rptreport"), before);
  EXPECT_EQ(migrationtest::Psql("hy", "select count(*) from pg_class where relname = 'pwned'"), "0\n");
}

// A value means the same inside a multi-row statement as alone: a file with one row of every field
// type, one of every NULL and one of empty values is restored with every row sent alone, then with
// all rows in one statement, and the target holds the same values both times. In the statement a
// timestamp column gets Null and to_timestamp(...) from one field, Null and quoted text from
// another: inside an INSERT the server fits each row's values to the target column, not to a
// type common to the rows (a bare VALUES list would fail on that mix).
TEST_F(RecordImportTest, EveryTypeAndNullFormMeansTheSameAloneAndInAMultiRowStatement) {
  DM_NEEDS_HOST_TOOLS("the target read through psql");
  using T = db::TFieldType;
  const std::vector<std::pair<db::DbColumn, const char*>> columns = {
      {{"n", T::ftInteger}, "integer"},        {{"i", T::ftInteger}, "integer"},
      {{"s", T::ftString, 20}, "varchar(20)"}, {{"fc", T::ftFixedChar, 4}, "char(4)"},
      {{"ws", T::ftWideString, 20}, "varchar(20)"}, {{"memo", T::ftMemo}, "text"},
      {{"bcd", T::ftBCD, 0, 18, 2}, "numeric(18,2)"}, {{"cur", T::ftCurrency}, "numeric(19,4)"},
      {{"f", T::ftFloat}, "float8"},           {{"r", T::ftSingle}, "real"},
      {{"sm", T::ftSmallint}, "smallint"},     {{"big", T::ftLargeint}, "bigint"},
      {{"flag", T::ftBoolean}, "boolean"},     {{"g", T::ftGuid}, "uuid"},
      {{"ts", T::ftDateTime}, "timestamp"},    {{"d", T::ftDate}, "date"},
      {{"t", T::ftTime}, "time"},              {{"stamp", T::ftBytes, 19}, "timestamp"},
      {{"raw", T::ftBlob}, "bytea"},
  };
  const std::vector<std::vector<const char*>> rows = {
      {"1", "7", "O'Brien \\ x", "ab", "名称", "x:y\r\n'q'", "1.50", "-0.0001", "0.10000000000000001", "-1.17549435E-38",
       "5", "9007199254740993", "True", "{8AC68D3D-8A09-4403-8860-D0E494BBE894}", "2013-06-15 08:00:00", "2013-06-15",
       "23:59:59", "2013-06-15 08:00:00", "\x01\x02"},
      {"2", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      {"3", "-1", "", "", "", "", "0.00", "0.0000", "-1E-3", "0", "0", "-1", "False", nullptr, "0100-01-01 00:00:00",
       "9999-12-31", "00:00:00", "", ""},
  };
  std::string create;
  std::vector<db::DbColumn> fileColumns;
  for (const auto& [column, sqlType] : columns) {
    create += (create.empty() ? "" : ", ") + column.name + " " + sqlType;
    fileColumns.push_back(column);
  }
  {
    db::TableFileWriter writer(dir / "qimzorstatistics/dmtest_types.xml", fileColumns);
    db::DbRow row;
    for (const auto& values : rows) {
      row.Reset(columns.size());
      for (size_t i = 0; i < values.size(); ++i) {
        row.nulls[i] = values[i] == nullptr;
        row.values[i] = values[i] ? values[i] : "";
      }
      writer.WriteRow(row);
    }
    writer.Finish();
  }
  migrationtest::Psql("hy", "drop table if exists dmtest_types; create table dmtest_types (" + create + ");");
  const auto restored = [&](int rowsPerStatement) {
    SetInsertBatchBound({rowsPerStatement, kInsertBatchBound.bytes});
    migrationtest::Psql("hy", "truncate dmtest_types;");
    host.CreateProgressWindow();
    std::exception_ptr failure;
    try {
      Restore(host, "dmtest_types.xml");
    } catch (...) {
      failure = std::current_exception();
    }
    SetInsertBatchBound(kInsertBatchBound);
    host.ProgressWindow()->CloseWindow();
    host.DestroyProgressWindow();
    if (failure) std::rethrow_exception(failure);
    return migrationtest::Psql("hy", "select * from dmtest_types order by n;");
  };
  const std::string expected =
      "1|7|O'Brien \\ x|ab  |名称|x:y\r\n'q'|1.50|-0.0001|0.1|-1.1754944e-38|5|9007199254740993|t|"
      "8ac68d3d-8a09-4403-8860-d0e494bbe894|2013-06-15 08:00:00|2013-06-15|23:59:59|2013-06-15 08:00:00|<NULL>\n"
      "2|<NULL>||    |||<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>|<NULL>\n"
      "3|-1||    |||0.00|0.0000|-0.001|0|0|-1|f|<NULL>|0100-01-01 00:00:00|9999-12-31|00:00:00|<NULL>|<NULL>\n";
  EXPECT_EQ(restored(1), expected);
  testsupport::TraceCapture trace;
  EXPECT_EQ(restored(1000), expected);
  // The trace still shows every row's own statement.
  EXPECT_TRUE(trace.Contains("insert into dmtest_types (n,i,s,fc,ws,memo,bcd,cur,f,r,sm,big,flag,g,ts,d,t,stamp) values "
                             "(3,-1,'','','','','0.00','0.0000','-1E-3','0','0','-1','False',Null,'0100-01-01 00:00:00',"
                             "'9999-12-31','00:00:00',to_timestamp(''))"));

  // A row the target refuses fails the whole statement it was sent in, and the trace says which rows that held;
  // sent again one at a time, the failing row's statement is the last traced, the detail line names it and the
  // error is its own, as when every row is sent alone.
  migrationtest::Psql("hy", "truncate dmtest_types; alter table dmtest_types add check (n <> 2);");
  const auto failure = [&](int rowsPerStatement) {
    std::string what;
    try {
      restored(rowsPerStatement);
    } catch (const db::EDatabaseError& e) {
      what = e.what();
    }
    return what + "|" + trace.lines.back().substr(trace.lines.back().find("insert into")) + "|" + host.lastWindow->detailText;
  };
  const std::string alone = failure(1);
  EXPECT_NE(alone.find("|insert into dmtest_types (n,i,s,fc,ws,memo,bcd,cur,f,r,sm,big,flag,g,ts,d,t,stamp) values (2,Null,"),
            std::string::npos) << alone;
  EXPECT_NE(alone.find("|正在导入表dmtest_types中的第2条记录..."), std::string::npos) << alone;
  EXPECT_EQ(failure(1000), alone);
  EXPECT_TRUE(trace.Contains("The statements of records 1 to 3 failed"));
  EXPECT_EQ(migrationtest::Psql("hy", "select count(*) from dmtest_types; drop table dmtest_types;"), "0\n");
}

TEST_F(RecordImportTest, AFileThatCannotBeLoadedRollsBackAndRaises) {
  std::ofstream(dir / "qimzorstatistics/rptreport.xml") << "<xml>not a table file";
  host.CreateProgressWindow();
  EXPECT_ANY_THROW(Restore(host, "rptreport.xml"));
  EXPECT_FALSE(host.conADOConParty().InTransaction());
  host.ProgressWindow()->CloseWindow();
  host.DestroyProgressWindow();
}

}  // namespace
}  // namespace migration
