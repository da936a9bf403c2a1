-- Report tables of a Norvale V3.1 installation (database ZOR, schema public, owner SYSTEM):
-- the tables that the backup reads.

CREATE TABLE rptreportdata (
  id          integer PRIMARY KEY,
  reportid    integer NOT NULL,
  orgid       varchar(50),
  rowno       integer,
  colno       smallint,
  cellvalue   numeric(18,2),
  celltext    varchar(500),
  ratio       double precision,
  updatetime  timestamp,
  remark      text
);

CREATE TABLE rptreport (
  id          integer PRIMARY KEY,
  reportname  varchar(100) NOT NULL,
  reporttype  smallint,
  durationid  integer,
  sortno      numeric(9,0),
  flag        char(1),
  creator     varchar(50),
  createtime  timestamp,
  content     bytea,
  remark      text
);

CREATE TABLE rptsetreportcover (
  id          integer PRIMARY KEY,
  reportid    integer,
  title       varchar(200),
  subtitle    varchar(200),
  unitname    varchar(100),
  fillman     varchar(50),
  filldate    date,
  coverimage  bytea
);

CREATE TABLE rptsingletmp (
  id          integer PRIMARY KEY,
  tmpname     varchar(100),
  tmptype     smallint,
  orderno     numeric(9,0),
  sqltext     text,
  createtime  timestamp
);

CREATE TABLE rptsingletmpcondition (
  id          integer PRIMARY KEY,
  tmpid       integer,
  fieldname   varchar(50),
  operator    varchar(10),
  fieldvalue  varchar(200),
  seqno       integer
);

CREATE TABLE rptcombinefetch (
  id          integer PRIMARY KEY,
  fetchname   varchar(100),
  reportids   varchar(200),
  fetchtype   smallint,
  total       bigint,
  createtime  timestamp
);

CREATE TABLE rptcombinefetchcondition (
  id          integer PRIMARY KEY,
  fetchid     integer,
  condname    varchar(50),
  condvalue   varchar(200),
  seqno       integer
);

CREATE TABLE rptaddresslist (
  id          integer PRIMARY KEY,
  orgid       varchar(50),
  orgname     varchar(200),
  address     varchar(300),
  postcode    char(6),
  phone       varchar(30),
  email       varchar(100),
  updatedate  date
);

CREATE TABLE rpttemplateclassvalid (
  id          integer PRIMARY KEY,
  classid     integer,
  templateid  integer,
  isvalid     numeric(1,0),
  validfrom   date,
  validto     date
);

CREATE TABLE t_org_sumclass_new (
  id          integer PRIMARY KEY,
  classname   varchar(100),
  parentid    integer,
  levelno     smallint,
  sumflag     char(1),
  amount      numeric(18,2)
);

CREATE TABLE t_org_sumclass_org_new (
  id          integer PRIMARY KEY,
  classid     integer,
  orgid       varchar(50),
  orgname     varchar(200),
  weight      double precision
);

CREATE TABLE rptreportremark (
  id          integer PRIMARY KEY,
  reportid    integer,
  author      varchar(50),
  remarktime  timestamp,
  remark      text
);

-- Organisation base data: b0191 is the period, b0140 the organisation code.
CREATE TABLE b01 (
  b0191       varchar(10),
  b0140       varchar(100),
  b0141       varchar(100),
  b0142       integer,
  b0143       varchar(10),
  b0111       varchar(100),
  b0101       varchar(200),
  b0114       date
);

CREATE TABLE rptduration (
  rptname       varchar(100),
  rpttype       varchar(20),
  rptduartionid varchar(200),
  sortno        integer,
  createtime    timestamp
);

CREATE TABLE t_rpt_duration (
  durationid  integer PRIMARY KEY,
  orgid       varchar(100),
  durname     varchar(100),
  label       varchar(100),
  begintime   varchar(20),
  endtime     varchar(20),
  connection  varchar(100)
);
