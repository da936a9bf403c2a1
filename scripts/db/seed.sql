-- Sample data of a Norvale V3.1 installation (database ZOR), loaded by `scripts/dbenv.sh seed`.
-- Deterministic: the same rows on every run. psql variable :rows = rows of rptreportdata (default 300).
--
-- Rows per table (N = :rows):
--   rptreportdata              N   ids 1..N; every 50th row (id % 50 = 0) has NULL in all nullable columns;
--                                  id 2/3: rowno 2147483647/-2147483648, id 4: colno -32768,
--                                  id 5/6: cellvalue +/-9999999999999999.99, id 7: ratio 0.1,
--                                  id 10/11: updatetime 1900-01-01 00:00:00 / 2099-12-31 23:59:59;
--                                  celltext of ids with id % 10 = 1 cycles through the 12 tricky texts
--   rptreport                 20   content bytea (NULL for ids 5, 10, 15, 20; id 1 holds 100 000 bytes)
--   rptsetreportcover         20   coverimage bytea (NULL for odd ids)
--   rptsingletmp              12
--   rptsingletmpcondition     30
--   rptcombinefetch           10   id 1: total 9007199254740993 (not exact as a double)
--   rptcombinefetchcondition  25
--   rptaddresslist            15
--   rpttemplateclassvalid     15
--   t_org_sumclass_new        12
--   t_org_sumclass_org_new    24
--   rptreportremark           12   remark = tricky text number id (1..12), id 12 NULL author/time
--   b01                       40   34 rows the backup takes (b0140 neither NULL, '' nor 'XXX'), unique on
--                                  (b0191, b0140); 2 rows b0140 NULL, 2 rows '', 2 rows 'XXX'.
--                                  Among the 34: b0141 NULL for ORG901 (2011) and ORG903 (2013), b0141 ''
--                                  for ORG902 (2012) and ORG904 (2010): the latest of them by b0191 is
--                                  ORG903. b0140 "O'K-01" holds a quote.
--   rptduration                6   no row named '2013年统计报表'
--   t_rpt_duration             8   durationid 1..8 (unique; MAX = 8)
--
-- Tricky texts (1-based): 1 quotes, 2 colons (":name"), 3 backslashes, 4 LF, 5 CR LF, 6 characters outside
-- the BMP, 7 XML special characters, 8 tab, 9 leading/trailing blanks, 10 Chinese, 11 empty, 12 ASCII.

CREATE TEMP TABLE tricky AS
SELECT ARRAY[
  'O''Brien''s report: ''quoted''',
  'ratio :name and :1, a:b',
  'C:\data\新建文件夹\',
  E'第一行\n第二行',
  E'line one\r\nline two\r\n',
  '😀 emoji and 𠀀 ext-B',
  '<xml attr="v"> & ''amp'' </xml>',
  E'tab\there',
  '  leading and trailing blanks  ',
  '统计报表（2012年）——合计',
  '',
  'plain ASCII text'
]::text[] AS t;

INSERT INTO rptreportdata
SELECT i,
       1 + i % 20,
       CASE WHEN i % 50 = 0 THEN NULL ELSE 'ORG' || lpad((1 + i % 30)::text, 3, '0') END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i = 2 THEN 2147483647 WHEN i = 3 THEN -2147483648 ELSE i / 10 END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i = 4 THEN -32768 ELSE i % 10 END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i = 5 THEN 9999999999999999.99 WHEN i = 6 THEN -9999999999999999.99
            ELSE ((i::bigint * 12345) % 1000000 - 500000) / 100.0 END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i % 10 = 1 THEN (SELECT t FROM tricky)[1 + (i / 10) % 12]
            ELSE '单元格' || i END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i = 7 THEN 0.1 ELSE (i % 1000) / 8.0 - 50 END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i = 10 THEN timestamp '1900-01-01 00:00:00'
            WHEN i = 11 THEN timestamp '2099-12-31 23:59:59'
            ELSE timestamp '2012-01-01 08:00:00' + (i % 100000) * interval '37 minutes 13 seconds' END,
       CASE WHEN i % 50 = 0 THEN NULL WHEN i % 3 = 0 THEN '备注' || i WHEN i % 3 = 1 THEN '' ELSE 'remark ' || i END
FROM generate_series(1, :rows) AS i;

INSERT INTO rptreport
SELECT i,
       CASE i % 4 WHEN 0 THEN '2012年统计报表' || i WHEN 1 THEN 'Report ' || i WHEN 2 THEN '月报：' || i
                  ELSE 'O''Neil report ' || i END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE i % 3 END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE 1 + i % 8 END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE i * 10 END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE (i % 2)::text END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE '管理员' || i END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE timestamp '2012-03-01 09:30:00' + i * interval '1 day 1 second' END,
       CASE WHEN i % 5 = 0 THEN NULL
            WHEN i = 1 THEN (SELECT string_agg(decode(lpad(to_hex(k % 256), 2, '0'), 'hex'), ''::bytea)
                             FROM generate_series(0, 99999) AS k)
            ELSE decode(repeat(md5(i::text), i), 'hex') END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE (SELECT t FROM tricky)[1 + i % 12] END
FROM generate_series(1, 20) AS i;

INSERT INTO rptsetreportcover
SELECT i, 1 + i % 20,
       CASE WHEN i % 7 = 0 THEN NULL ELSE '封面标题' || i END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE (SELECT t FROM tricky)[1 + i % 12] END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE '统计局' || i END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE 'Filler ' || i END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE date '2012-12-31' + i END,
       CASE WHEN i % 2 = 1 THEN NULL ELSE decode(md5('cover' || i), 'hex') END
FROM generate_series(1, 20) AS i;

INSERT INTO rptsingletmp
SELECT i,
       CASE WHEN i % 6 = 0 THEN NULL ELSE '单表模板' || i END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE i % 4 END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE 100000000 + i END,
       CASE WHEN i % 6 = 0 THEN NULL
            ELSE E'select * from rptreportdata\r\nwhere reportid = :reportid and orgid = ''ORG' || lpad(i::text, 3, '0') || '''' END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE timestamp '2012-05-05 05:05:05' + i * interval '1 hour' END
FROM generate_series(1, 12) AS i;

INSERT INTO rptsingletmpcondition
SELECT i, 1 + i % 12,
       CASE WHEN i % 10 = 0 THEN NULL ELSE 'field' || i END,
       CASE WHEN i % 10 = 0 THEN NULL ELSE (ARRAY['=', '<>', '>=', 'like', '<'])[1 + i % 5] END,
       CASE WHEN i % 10 = 0 THEN NULL ELSE (SELECT t FROM tricky)[1 + i % 12] END,
       CASE WHEN i % 10 = 0 THEN NULL ELSE i END
FROM generate_series(1, 30) AS i;

INSERT INTO rptcombinefetch
SELECT i,
       CASE WHEN i % 5 = 0 THEN NULL ELSE '综合取数' || i END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE i || ',' || (i + 1) || ',' || (i + 2) END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE i % 3 END,
       CASE WHEN i % 5 = 0 THEN NULL WHEN i = 1 THEN 9007199254740993 ELSE i * 1000000007::bigint END,
       CASE WHEN i % 5 = 0 THEN NULL ELSE timestamp '2013-01-15 12:00:00' - i * interval '3 days' END
FROM generate_series(1, 10) AS i;

INSERT INTO rptcombinefetchcondition
SELECT i, 1 + i % 10,
       CASE WHEN i % 8 = 0 THEN NULL ELSE '条件' || i END,
       CASE WHEN i % 8 = 0 THEN NULL ELSE (SELECT t FROM tricky)[1 + (i + 3) % 12] END,
       CASE WHEN i % 8 = 0 THEN NULL ELSE i % 4 END
FROM generate_series(1, 25) AS i;

INSERT INTO rptaddresslist
SELECT i,
       'ORG' || lpad(i::text, 3, '0'),
       CASE WHEN i % 6 = 0 THEN NULL ELSE '第' || i || '统计站' END,
       CASE WHEN i % 6 = 0 THEN NULL WHEN i = 1 THEN E'北京市海淀区\r\n中关村大街1号' ELSE '上海市' || i || '号' END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE lpad((100000 + i * 37)::text, 6, '0') END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE '010-' || (62000000 + i) END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE 'org' || i || '@example.cn' END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE date '2013-01-01' - i * 11 END
FROM generate_series(1, 15) AS i;

INSERT INTO rpttemplateclassvalid
SELECT i, 1 + i % 5, 100 + i,
       CASE WHEN i % 7 = 0 THEN NULL ELSE i % 2 END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE date '2012-01-01' + i END,
       CASE WHEN i % 7 = 0 THEN NULL ELSE date '2012-12-31' + i END
FROM generate_series(1, 15) AS i;

INSERT INTO t_org_sumclass_new
SELECT i,
       CASE WHEN i % 6 = 0 THEN NULL ELSE '汇总类' || i END,
       CASE WHEN i % 6 = 0 OR i <= 3 THEN NULL ELSE 1 + i % 3 END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE CASE WHEN i <= 3 THEN 1 ELSE 2 END END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE (ARRAY['Y', 'N'])[1 + i % 2] END,
       CASE WHEN i % 6 = 0 THEN NULL ELSE i * 1000.5 - 3000 END
FROM generate_series(1, 12) AS i;

INSERT INTO t_org_sumclass_org_new
SELECT i, 1 + i % 12,
       CASE WHEN i % 8 = 0 THEN NULL ELSE 'ORG' || lpad((1 + i % 30)::text, 3, '0') END,
       CASE WHEN i % 8 = 0 THEN NULL ELSE (SELECT t FROM tricky)[1 + i % 12] END,
       CASE WHEN i % 8 = 0 THEN NULL ELSE i / 4.0 END
FROM generate_series(1, 24) AS i;

INSERT INTO rptreportremark
SELECT i, 1 + i % 20,
       CASE WHEN i = 12 THEN NULL ELSE '审核人' || i END,
       CASE WHEN i = 12 THEN NULL ELSE timestamp '2013-02-02 02:02:02' + i * interval '1 minute' END,
       (SELECT t FROM tricky)[i]
FROM generate_series(1, 12) AS i;

-- b01: 30 regular organisations in 2012 and 2013, the four with an empty b0141, one with a quote in its
-- code, and the six rows that the backup leaves out.
INSERT INTO b01 (b0191, b0140, b0141, b0142, b0143, b0111, b0101, b0114)
SELECT CASE WHEN i <= 15 THEN '2012' ELSE '2013' END,
       'ORG' || lpad(i::text, 3, '0'),
       'P' || lpad((1 + i % 4)::text, 3, '0'),
       CASE WHEN i % 9 = 0 THEN NULL ELSE i * 10 END,
       CASE WHEN i % 9 = 0 THEN NULL ELSE (i % 3)::text END,
       CASE WHEN i % 9 = 0 THEN NULL ELSE '行业' || (i % 5) END,
       CASE WHEN i % 9 = 0 THEN NULL WHEN i % 10 = 1 THEN (SELECT t FROM tricky)[1 + i / 10 % 12]
            ELSE '单位名称' || i END,
       CASE WHEN i % 9 = 0 THEN NULL ELSE date '2000-01-01' + i * 100 END
FROM generate_series(1, 29) AS i;
INSERT INTO b01 (b0191, b0140, b0141, b0142, b0143, b0111, b0101, b0114) VALUES
  ('2011', 'ORG901', NULL, 901, '1', '行业9', '无上级单位一', date '2011-01-01'),
  ('2012', 'ORG902', '',   902, '1', '行业9', '无上级单位二', date '2012-01-01'),
  ('2013', 'ORG903', NULL, 903, '1', '行业9', '最新的无上级单位', date '2013-01-01'),
  ('2010', 'ORG904', '',   NULL, NULL, NULL, NULL, NULL),
  ('2013', 'O''K-01', 'ORG001', 42, '2', 'a:b', E'C:\\单位\\"引号"', date '2013-06-15'),
  ('2012', NULL,     'ORG001', 1, '1', '无效', '代码为空', NULL),
  ('2013', NULL,     NULL,     2, '1', '无效', '代码为空', NULL),
  ('2012', '',       'ORG001', 3, '1', '无效', '代码为空串', NULL),
  ('2013', '',       '',       4, '1', '无效', '代码为空串', NULL),
  ('2012', 'XXX',    'ORG001', 5, '1', '无效', '代码为XXX', NULL),
  ('2013', 'XXX',    NULL,     6, '1', '无效', '代码为XXX', NULL);

INSERT INTO rptduration (rptname, rpttype, rptduartionid, sortno, createtime) VALUES
  ('2010年统计报表', '[10]', '[1]', 1, timestamp '2010-12-01 10:00:00'),
  ('2011年统计报表', '[11]', '[2][3]', 2, timestamp '2011-12-01 10:00:00'),
  ('2012年统计报表', '[12]', '[4]', 3, timestamp '2012-12-01 10:00:00'),
  ('2012年快报',     '[12]', '',    NULL, NULL),
  ('Report ''Q''',   NULL,   NULL,  5, timestamp '2012-06-30 23:59:59'),
  ('月报:1', '[1]', '[5]', 6, timestamp '2012-01-31 00:00:00');

INSERT INTO t_rpt_duration (durationid, orgid, durname, label, begintime, endtime, connection)
SELECT i,
       CASE WHEN i = 8 THEN NULL ELSE 'ORG' || lpad(i::text, 3, '0') END,
       CASE WHEN i = 8 THEN NULL ELSE (2005 + i) || '年统计' END,
       CASE WHEN i = 8 THEN NULL WHEN i = 7 THEN 'label: ''7''' ELSE (2005 + i) || '年统计' END,
       CASE WHEN i = 8 THEN NULL ELSE (2005 + i) || '0101' END,
       CASE WHEN i = 8 THEN NULL ELSE (2005 + i) || '1231' END,
       CASE WHEN i = 8 THEN NULL ELSE '当前数据库' END
FROM generate_series(1, 8) AS i;

ANALYZE rptreportdata, rptreport, rptsetreportcover, rptsingletmp, rptsingletmpcondition, rptcombinefetch,
        rptcombinefetchcondition, rptaddresslist, rpttemplateclassvalid, t_org_sumclass_new,
        t_org_sumclass_org_new, rptreportremark, b01, rptduration, t_rpt_duration;
