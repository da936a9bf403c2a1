// The record import's rules on real result sets that went through a TableFile, and the refusal of
// names that are not plain identifiers before any statement is built.
#include "migration/RecordImport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "MigrationTestHost.h"
#include "db/DbError.h"

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
