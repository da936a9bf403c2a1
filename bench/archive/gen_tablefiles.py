#!/usr/bin/env python3
"""Writes 15 TableFiles of report rows in ADO's XML persistence format, about TOTAL_MB in all,
deterministically (a fixed seed), into the given WorkDirectory."""
import os
import random
import sys

TABLES = ["B01REPORT", "B02REPORT", "B03REPORT", "B04REPORT", "RPTREPORT", "RPTCELL", "RPTROW",
          "RPTCOL", "DURATION", "ORGAN", "INDICATOR", "UNITCODE", "TASKINFO", "AUDITLOG", "ATTACH"]
# Relative weights: a few large report tables and several small dictionaries, as in a real backup.
WEIGHTS = [22, 18, 14, 10, 9, 7, 5, 4, 3, 2, 2, 1.5, 1.2, 0.8, 0.5]

HEADER = """<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'
\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'
\txmlns:rs='urn:schemas-microsoft-com:rowset'
\txmlns:z='#RowsetSchema'>
<s:Schema id='RowsetSchema'>
\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>
\t\t<s:AttributeType name='DURATIONID' rs:number='1' rs:writeunknown='true'>
\t\t\t<s:datatype dt:type='int' dt:maxLength='4' rs:precision='10' rs:fixedlength='true' rs:maybenull='false'/>
\t\t</s:AttributeType>
\t\t<s:AttributeType name='ORGANID' rs:number='2' rs:nullable='true' rs:writeunknown='true'>
\t\t\t<s:datatype dt:type='string' dt:maxLength='40'/>
\t\t</s:AttributeType>
\t\t<s:AttributeType name='CELLVALUE' rs:number='3' rs:nullable='true' rs:writeunknown='true'>
\t\t\t<s:datatype dt:type='number' rs:dbtype='numeric' dt:maxLength='19' rs:scale='4' rs:precision='18' rs:fixedlength='true'/>
\t\t</s:AttributeType>
\t\t<s:AttributeType name='REMARK' rs:number='4' rs:nullable='true' rs:writeunknown='true'>
\t\t\t<s:datatype dt:type='string' dt:maxLength='200'/>
\t\t</s:AttributeType>
\t\t<s:AttributeType name='MODIFYTIME' rs:number='5' rs:nullable='true' rs:writeunknown='true'>
\t\t\t<s:datatype dt:type='dateTime' rs:dbtype='timestamp' dt:maxLength='16' rs:scale='0' rs:precision='19' rs:fixedlength='true'/>
\t\t</s:AttributeType>
\t\t<s:extends type='rs:rowbase'/>
\t</s:ElementType>
</s:Schema>
<rs:data>
"""
FOOTER = "</rs:data>\n</xml>\n"
REMARKS = ["已审核", "待补报", "数据来源：基层上报", "按季度汇总", "调整后数值", "", "含外资企业",
           "Revised figure", "统计口径变化", "同比增长"]


def main():
    out = sys.argv[1]
    total_mb = float(sys.argv[2]) if len(sys.argv) > 2 else 200.0
    os.makedirs(out, exist_ok=True)
    rnd = random.Random(20130715)
    total = total_mb * 1024 * 1024
    wsum = sum(WEIGHTS)
    for table, weight in zip(TABLES, WEIGHTS):
        target = total * weight / wsum
        with open(os.path.join(out, table + ".xml"), "w", encoding="utf-8", newline="\r\n") as f:
            f.write(HEADER)
            written = len(HEADER)
            rows = []
            while written < target:
                organ = "%06d%03d" % (rnd.randrange(110000, 660000), rnd.randrange(1000))
                value = "%d.%04d" % (rnd.randrange(0, 10 ** rnd.randrange(1, 9)), rnd.randrange(10000))
                remark = rnd.choice(REMARKS)
                attr = (" REMARK='%s'" % remark) if remark else ""
                row = "\t<z:row DURATIONID='%d' ORGANID='%s' CELLVALUE='%s'%s MODIFYTIME='20%02d-%02d-%02dT%02d:%02d:%02d'/>\n" % (
                    rnd.randrange(1, 400), organ, value, attr, rnd.randrange(5, 14), rnd.randrange(1, 13),
                    rnd.randrange(1, 29), rnd.randrange(24), rnd.randrange(60), rnd.randrange(60))
                rows.append(row)
                written += len(row.encode("utf-8")) + 1
                if len(rows) >= 4096:
                    f.write("".join(rows))
                    rows.clear()
            f.write("".join(rows))
            f.write(FOOTER)


if __name__ == "__main__":
    main()
