-- Report tables of a Norvale V4.0 installation (database STAT, schema "DBO", tablespace "SYSTEM",
-- owner QIMZORTJ): the tables that the restore empties and fills.

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

-- The summary classes form a tree: parentid refers to a class of the same table, and a trigger
-- keeps a class from being its own parent. So the restore meets a table with a foreign key and a
-- trigger, whose rows go in one statement each.
CREATE TABLE t_org_sumclass_new (
  id          integer PRIMARY KEY,
  classname   varchar(100),
  parentid    integer REFERENCES t_org_sumclass_new (id),
  levelno     smallint,
  sumflag     char(1),
  amount      numeric(18,2)
);

CREATE FUNCTION t_org_sumclass_new_parent() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF NEW.parentid = NEW.id THEN
    RAISE EXCEPTION 'summary class % cannot be its own parent', NEW.id;
  END IF;
  RETURN NEW;
END
$$;

CREATE TRIGGER t_org_sumclass_new_parent BEFORE INSERT OR UPDATE ON t_org_sumclass_new
  FOR EACH ROW EXECUTE FUNCTION t_org_sumclass_new_parent();

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

-- Organisation base data by period, loaded from b01. The restore drops and re-creates it with this
-- very statement; the upper-case names end up lower case (see traits.sql).
CREATE TABLE "DBO"."B01REPORT"(  "DURATIONID" VARCHAR (10) NOT NULL ,  "B0140" VARCHAR (100) NOT NULL ,  "B0141" VARCHAR (100),  "B0142" INTEGER,  "B0143" VARCHAR (10),  "B0111" VARCHAR (100),  "B0101" VARCHAR (200),  PRIMARY KEY ("DURATIONID","B0140") USING INDEX TABLESPACE "SYSTEM") WITHOUT OIDS TABLESPACE "SYSTEM";

CREATE TABLE rptduration (
  rptname       varchar(100),
  rpttype       varchar(20),
  rptduartionid varchar(200),
  sortno        integer,
  createtime    timestamp
);

-- id takes the source's durationid; the fix-up adds its own row with MAX(id) + 1 (NULL when empty),
-- hence no key on it.
CREATE TABLE t_rpt_duration (
  id          integer,
  orgid       varchar(100),
  durname     varchar(100),
  label       varchar(100),
  begintime   varchar(20),
  endtime     varchar(20),
  connection  varchar(100)
);
