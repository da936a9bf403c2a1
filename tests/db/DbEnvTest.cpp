// The stand-in servers of scripts/dbenv.sh as the program meets them: through the driver manager and
// psqlODBC, with the program's own connection strings. Checks the column types the driver reports
// for the source tables, the sample data, and that the restore's fixed SQL (the truncate batch, the
// re-creation of B01REPORT, the fix-up statements) runs on the target. Every case works inside one
// transaction that it rolls back, so the servers keep their data for the other tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/OdbcApi.h"
#include "db/OdbcText.h"

namespace {

const char* const kSourceConnection =
    "Provider=MSDASQL.1;DRIVER={KingbaseES ODBC driver};Extended Properties='';PWD=PLOVERX;"
    "Persist Security Info=True;UID=SYSTEM;MaxVarcharSize=8000;DATABASE=ZOR;SERVER=127.0.0.1;PORT=59021;";
const char* const kTargetConnection =
    "Provider=MSDASQL.1;DRIVER={KingbaseES 6 ODBC driver};Extended Properties='';"
    "PWD=7F3A1C9E5B2D4086A1E3C5F7092B4D6E;Persist Security Info=True;UID=QIMZORTJ;MaxVarcharSize=8000;"
    "DATABASE=STAT;SERVER=127.0.0.1;PORT=54321;";

const char* const kNull = "<NULL>";

std::u16string Wide(const std::string& text) { return db::Utf8ToUtf16(text); }
std::string Narrow(const std::u16string& text) { return db::Utf16ToUtf8(text); }

std::string SourceDir() {
  const char* dir = std::getenv("DM_SOURCE_DIR");
  return dir ? dir : ".";
}

struct Column {
  std::string name;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

struct Result {
  std::vector<Column> columns;
  std::vector<std::vector<std::string>> rows;  // kNull for NULL
};

// One ODBC connection with autocommit off; whatever the case did is rolled back at its end.
class Session {
 public:
  explicit Session(const std::string& connection) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::u16string text = Wide(connection);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, Chars(text), SQL_NTS, out, 1024, &outLength,
                                           SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) throw std::runtime_error("connect: " + Diagnostics(SQL_HANDLE_DBC, dbc_));
    connected_ = true;
    SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  }
  ~Session() {
    if (connected_) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLDisconnect(dbc_);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs one command text; returns the first result set (if any). Throws with the driver's message.
  Result Run(const std::string& sql) {
    SQLHSTMT stmt = SQL_NULL_HANDLE;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::u16string text = Wide(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt, Chars(text), static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      const std::string message = Diagnostics(SQL_HANDLE_STMT, stmt);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      throw std::runtime_error(message);
    }
    Result result;
    SQLSMALLINT count = 0;
    SQLNumResultCols(stmt, &count);
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLWCHAR name[256];
      SQLSMALLINT nameLength = 0, nullable = 0;
      Column column;
      SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i), name, 256, &nameLength, &column.type, &column.size,
                      &column.digits, &nullable);
      column.name = Narrow(std::u16string(reinterpret_cast<const char16_t*>(name), nameLength));
      result.columns.push_back(column);
    }
    while (count > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) {
      std::vector<std::string> row;
      for (SQLSMALLINT i = 1; i <= count; ++i) row.push_back(Text(stmt, static_cast<SQLUSMALLINT>(i)));
      result.rows.push_back(row);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return result;
  }

  std::string Scalar(const std::string& sql) {
    const Result result = Run(sql);
    if (result.rows.empty() || result.rows[0].empty()) throw std::runtime_error("no value: " + sql);
    return result.rows[0][0];
  }

 private:
  static SQLWCHAR* Chars(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

  // The whole value as text, read in pieces (long texts and binary values exceed one buffer).
  static std::string Text(SQLHSTMT stmt, SQLUSMALLINT column) {
    std::u16string value;
    for (;;) {
      char16_t buffer[4096];
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw std::runtime_error("SQLGetData: " + Diagnostics(SQL_HANDLE_STMT, stmt));
      if (indicator == SQL_NULL_DATA) return kNull;
      const size_t capacity = sizeof buffer / sizeof buffer[0] - 1;
      const size_t got = (indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / 2 > capacity)
                             ? capacity
                             : static_cast<size_t>(indicator) / 2;
      value.append(buffer, got);
      if (rc == SQL_SUCCESS) break;
    }
    return Narrow(value);
  }

  static std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    SQLWCHAR state[6], message[2048];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQLGetDiagRecW(type, handle, i, state, &native, message, 2048, &length) == SQL_SUCCESS;
         ++i)
      text += Narrow(std::u16string(reinterpret_cast<const char16_t*>(message), length)) + "\n";
    return text;
  }

  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const kSourceTables[] = {
    "rptreportdata",         "rptreport",          "rptsetreportcover", "rptsingletmp",
    "rptsingletmpcondition", "rptcombinefetch",    "rptcombinefetchcondition",
    "rptaddresslist",        "rpttemplateclassvalid", "t_org_sumclass_new", "t_org_sumclass_org_new",
    "rptreportremark",       "b01",                "rptduration",       "t_rpt_duration"};

// Empties the source tables and loads the sample data of `dbenv.sh seed`, all inside the session's
// transaction.
void LoadSampleData(Session& source) {
  std::string truncate = "TRUNCATE ";
  for (const char* table : kSourceTables) truncate += std::string(table) + ",";
  truncate.back() = ';';
  source.Run(truncate);
  std::string seed = ReadFile(SourceDir() + "/scripts/db/seed.sql");
  const std::string variable = ":rows";
  size_t replaced = 0;
  for (size_t at = seed.find(variable); at != std::string::npos; at = seed.find(variable, at)) {
    seed.replace(at, variable.size(), "300");
    ++replaced;
  }
  ASSERT_GT(replaced, 0u);
  source.Run(seed);
}

// The truncate batch of the restore: 17 lines, each followed by CR LF, sent as one command.
std::string TruncateBatch() {
  const char* const lines[] = {
      "truncate table  rptreportdata;",
      "truncate table  rptreport;",
      "truncate table  rptsetreportcover;",
      "truncate table  rptsingletmp;",
      "truncate table  rptsingletmpcondition;",
      "truncate table  rptcombinefetch;",
      "truncate table  rptcombinefetchcondition;",
      "truncate table  rptaddresslist;",
      "truncate table  RPTTEMPLATECLASSVALID;",
      "truncate table  T_ORG_SUMCLASS_NEW;",
      "truncate table  T_ORG_SUMCLASS_ORG_NEW;",
      "truncate table  RPTREPORTREMARK;",
      "truncate table  B01Report;",
      "truncate table  RPTDURATION;",
      "truncate table  T_RPT_DURATION;",
      "Drop Table B01Report;",
      "CREATE TABLE \"DBO\".\"B01REPORT\"(  \"DURATIONID\" VARCHAR (10) NOT NULL ,  \"B0140\" VARCHAR (100) NOT NULL "
      ",  \"B0141\" VARCHAR (100),  \"B0142\" INTEGER,  \"B0143\" VARCHAR (10),  \"B0111\" VARCHAR (100),  \"B0101\" "
      "VARCHAR (200),  PRIMARY KEY (\"DURATIONID\",\"B0140\") USING INDEX TABLESPACE \"SYSTEM\") WITHOUT OIDS "
      "TABLESPACE \"SYSTEM\";"};
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

TEST(DbEnvConnection, ProfilesReachTheirDatabaseAsTheirRole) {
  struct Case {
    const char* connection;
    const char* user;
    const char* database;
    const char* schemas;
    const char* standardStrings;  // the target plays a server that reads backslashes as escapes
  };
  const Case cases[] = {{kSourceConnection, "SYSTEM", "ZOR", "{public}", "on"},
                        {kTargetConnection, "QIMZORTJ", "STAT", "{DBO,public}", "off"}};
  for (const Case& c : cases) {
    Session session(c.connection);
    const Result result = session.Run("select current_user, current_database(), current_schemas(false), "
                                      "current_setting('standard_conforming_strings')");
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0], (std::vector<std::string>{c.user, c.database, c.schemas, c.standardStrings}));
  }
}

TEST(DbEnvConnection, WrongPasswordIsRefused) {
  std::string connection = kTargetConnection;
  connection.replace(connection.find("PWD=7F3A"), 8, "PWD=0000");
  EXPECT_THROW(Session session(connection), std::runtime_error);
}

// What the program's type mapping sees for the source columns.
TEST(DbEnvSource, DriverReportsTheColumnTypes) {
  Session source(kSourceConnection);
  struct Case {
    const char* query;
    const char* column;
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
  };
  const Case cases[] = {
      {"select *  from  rptreport", "id", SQL_INTEGER, 10, 0},
      {"select *  from  rptreport", "reporttype", SQL_SMALLINT, 5, 0},
      {"select *  from  rptreport", "sortno", SQL_NUMERIC, 9, 0},
      {"select *  from  rptreport", "flag", SQL_WCHAR, 1, 0},
      {"select *  from  rptreport", "reportname", SQL_WVARCHAR, 100, 0},
      {"select *  from  rptreport", "createtime", SQL_TYPE_TIMESTAMP, 26, 6},
      {"select *  from  rptreport", "content", SQL_LONGVARBINARY, 0, 0},
      {"select *  from  rptreport", "remark", SQL_WLONGVARCHAR, 8190, 0},
      {"select *  from  rptreportdata", "cellvalue", SQL_NUMERIC, 18, 2},
      {"select *  from  rptreportdata", "ratio", SQL_FLOAT, 17, 0},
      {"select *  from  rptcombinefetch", "total", SQL_BIGINT, 19, 0},
      {"select *  from  rptsetreportcover", "filldate", SQL_TYPE_DATE, 10, 0},
      {"select *  from  RPTTEMPLATECLASSVALID", "isvalid", SQL_NUMERIC, 1, 0},
  };
  std::map<std::string, Result> results;
  for (const Case& c : cases) {
    if (!results.count(c.query)) results[c.query] = source.Run(std::string(c.query) + " where false");
    const Result& result = results[c.query];
    bool found = false;
    for (const Column& column : result.columns) {
      if (column.name != c.column) continue;
      found = true;
      EXPECT_EQ(column.type, c.type) << c.query << " " << c.column;
      EXPECT_EQ(column.size, c.size) << c.query << " " << c.column;
      EXPECT_EQ(column.digits, c.digits) << c.query << " " << c.column;
    }
    EXPECT_TRUE(found) << c.query << " " << c.column;
  }
}

TEST(DbEnvSource, SampleDataHasTheDocumentedRows) {
  Session source(kSourceConnection);
  LoadSampleData(source);
  const std::map<std::string, int> counts = {
      {"rptreportdata", 300},       {"rptreport", 20},           {"rptsetreportcover", 20},
      {"rptsingletmp", 12},         {"rptsingletmpcondition", 30}, {"rptcombinefetch", 10},
      {"rptcombinefetchcondition", 25}, {"rptaddresslist", 15},  {"RPTTEMPLATECLASSVALID", 15},
      {"T_ORG_SUMCLASS_NEW", 12},   {"T_ORG_SUMCLASS_ORG_NEW", 24}, {"RPTREPORTREMARK", 12},
      {"b01", 40},                  {"RPTDURATION", 6},          {"T_RPT_DURATION", 8}};
  for (const auto& [table, count] : counts)
    EXPECT_EQ(source.Run("select *  from  " + table).rows.size(), static_cast<size_t>(count)) << table;

  const Result b01 = source.Run(
      "SELECT b0191,  b0140,  b0141,  b0142,  b0101 from  b01 where  b0140 <> 'XXX' AND (b0140 IS NOT NULL)  AND "
      "b0140 <> ''");
  EXPECT_EQ(b01.rows.size(), 34u);
  EXPECT_EQ(source.Scalar("select b0140 from b01 where b0140 <> 'XXX' and b0140 <> '' and (b0141 is null or "
                          "b0141 = '') order by b0191 desc limit 1"),
            "ORG903");
  EXPECT_EQ(source.Scalar("select count(distinct (b0191, b0140)) from b01 where b0140 <> 'XXX' and b0140 <> ''"),
            "34");
  EXPECT_EQ(source.Scalar("select max(durationid) from t_rpt_duration"), "8");
  EXPECT_EQ(source.Scalar("select length(content) from rptreport where id = 1"), "100000");
}

// The texts that stress quoting, parameters, line ends and UTF-16 come back unchanged through the
// wide driver functions.
TEST(DbEnvSource, TrickyTextsSurviveTheDriver) {
  Session source(kSourceConnection);
  LoadSampleData(source);
  const Result remarks = source.Run("select id, remark from rptreportremark order by id");
  const std::map<std::string, std::string> expected = {
      {"1", "O'Brien's report: 'quoted'"},
      {"2", "ratio :name and :1, a:b"},
      {"3", "C:\\data\\新建文件夹\\"},
      {"4", "第一行\n第二行"},
      {"5", "line one\r\nline two\r\n"},
      {"6", "😀 emoji and 𠀀 ext-B"},
      {"7", "<xml attr=\"v\"> & 'amp' </xml>"},
      {"8", "tab\there"},
      {"9", "  leading and trailing blanks  "},
      {"10", "统计报表（2012年）——合计"},
      {"11", ""},
      {"12", "plain ASCII text"}};
  ASSERT_EQ(remarks.rows.size(), expected.size());
  for (const auto& row : remarks.rows) EXPECT_EQ(row[1], expected.at(row[0])) << "id " << row[0];
}

TEST(DbEnvTarget, TruncateBatchRecreatesB01ReportWithLowerCaseNames) {
  Session target(kTargetConnection);
  target.Run("insert into b01report (durationid, b0140) values ('2013', 'OLD')");
  target.Run(TruncateBatch());
  target.Run(TruncateBatch());  // a second restore finds the re-created table
  EXPECT_EQ(target.Scalar("select count(*) from b01report"), "0");
  EXPECT_EQ(target.Scalar("select string_agg(column_name, ',' order by ordinal_position) from "
                          "information_schema.columns where table_schema = 'DBO' and table_name = 'b01report'"),
            "durationid,b0140,b0141,b0142,b0143,b0111,b0101");
  EXPECT_EQ(target.Scalar("select tablespace from pg_tables where schemaname = 'DBO' and tablename = 'b01report'"),
            "SYSTEM");
  target.Run("insert into B01REPORT (DURATIONID,b0140,b0141,b0142,b0101) values ('2013','ORG1','',Null,'a:b')");
  EXPECT_THROW(target.Run("insert into B01REPORT (DURATIONID,b0140) values ('2013','ORG1')"), std::runtime_error);
}

TEST(DbEnvTarget, TruncateBatchFailsWithoutB01Report) {
  Session target(kTargetConnection);
  target.Run("drop table b01report");
  EXPECT_THROW(target.Run(TruncateBatch()), std::runtime_error);
}

TEST(DbEnvTarget, OneArgumentToTimestamp) {
  Session target(kTargetConnection);
  struct Case {
    const char* argument;
    const char* expected;
  };
  const Case cases[] = {{"''", kNull}, {"'2013-06-15 10:20:30'", "2013-06-15 10:20:30"}, {"'20130101'", "2013-01-01 00:00:00"}};
  for (const Case& c : cases)
    EXPECT_EQ(target.Scalar(std::string("select to_timestamp(") + c.argument + ")"), c.expected) << c.argument;
  // Whatever an earlier restore left in the table goes with the case's rollback.
  target.Run("delete from rptreport where id = 1");
  target.Run("insert into rptreport (id,reportname,createtime) values (1,'r',to_timestamp(''))");
  EXPECT_EQ(target.Scalar("select createtime from rptreport where id = 1"), kNull);
}

// The fix-up statements after a restore of the sample data's durations and b01 rows.
TEST(DbEnvTarget, FixUpStatementsRun) {
  Session target(kTargetConnection);
  target.Run(TruncateBatch());
  for (int id = 1; id <= 8; ++id)
    target.Run("insert into T_RPT_DURATION (ID,orgid,durname,label,begintime,endtime,connection) values (" +
               std::to_string(id) + ",'ORG00" + std::to_string(id) + "','d','l','20120101','20121231','当前数据库')");
  target.Run("insert into B01REPORT (DURATIONID,b0140,b0141,b0142,b0101) values ('2011','ORG901','',901,'x')");
  target.Run("insert into B01REPORT (DURATIONID,b0140,b0141,b0142,b0101) values ('2013','ORG903','',903,'y')");
  target.Run("insert into B01REPORT (DURATIONID,b0140,b0141,b0142,b0101) values ('2013','ORG001','P001',1,'z')");

  target.Run(
      "INSERT INTO rptduration  (rptname,  rpttype,  rptduartionid) VALUES ('2013年统计报表',   '[13]', '');\r\n"
      "INSERT INTO t_rpt_duration  (orgid, durname,  label,  begintime, endtime,  connection,  id) VALUES ('',  "
      "'2013年统计',  '2013年统计',  '20130101', '20131231', '当前数据库',  (SELECT MAX(id)+ 1   FROM  "
      "t_rpt_duration));\r\n");
  const std::string id = target.Scalar("SELECT MAX(id)   FROM  t_rpt_duration");
  EXPECT_EQ(id, "9");
  EXPECT_EQ(target.Scalar("SELECT b0140 FROM   b01report WHERE  b0141 IS NULL  OR b0141 = '' order by durationid "
                          "desc limit 1;"),
            "ORG903");
  target.Run("UPDATE t_rpt_duration SET    orgid = (SELECT b0140  FROM   b01report   WHERE  b0141 IS NULL  OR b0141 "
             "= '' order by durationid desc limit 1) where id=" +
             id);
  target.Run("update RptDuration set rptduartionid = rptduartionid||'['||(select max(id) from T_RPT_DURATION)||']' "
             "where rptname ='2013年统计报表'");
  target.Run("DELETE FROM b01report WHERE (b0140 IS NULL)  OR b0140 = '' OR b0140 = 'XXX'");

  EXPECT_EQ(target.Run("select orgid, durname, begintime, endtime from t_rpt_duration where id = 9").rows,
            (std::vector<std::vector<std::string>>{{"ORG903", "2013年统计", "20130101", "20131231"}}));
  EXPECT_EQ(target.Scalar("select rptduartionid from rptduration where rptname = '2013年统计报表'"), "[9]");
}

// On an empty target the fix-up's duration gets no id (MAX of nothing), which the table accepts.
TEST(DbEnvTarget, FixUpOnEmptyTargetLeavesIdNull) {
  Session target(kTargetConnection);
  target.Run(TruncateBatch());
  target.Run(
      "INSERT INTO t_rpt_duration  (orgid, durname,  label,  begintime, endtime,  connection,  id) VALUES ('',  "
      "'2013年统计',  '2013年统计',  '20130101', '20131231', '当前数据库',  (SELECT MAX(id)+ 1   FROM  "
      "t_rpt_duration));");
  EXPECT_EQ(target.Scalar("SELECT MAX(id)   FROM  t_rpt_duration"), kNull);
}

}  // namespace
