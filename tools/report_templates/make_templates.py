#!/usr/bin/python3
"""Builds the report templates and the report catalogues from reports.json.

  make_templates.py [--out DIR]
      writes the four template workbooks (二次详查表格.xlsx and its "(亩)",
      "(不分页)" and "(亩不分页)" variants) and the catalogues into DIR
      (default: src/resources/templates of this checkout).
  make_templates.py --refresh-columns DB...
      takes each report's columns from the first SQLite statistics database
      that holds its table and rewrites reports.json with them.
  make_templates.py --check DIR DB...
      checks the templates and catalogues in DIR against the databases: every
      catalogue row has its sheet in all four workbooks, and the field row of
      each sheet equals the columns of "select *" on the table the report
      reads, in every unit the databases hold; a report whose table is not
      built yet must have no table in them. Prints each fault; exits 1 on any.

Needs python3-openpyxl (scripts/setup installs it).
"""

import argparse
import datetime
import json
import os
import re
import sqlite3
import sys
import xml.etree.ElementTree as ET
import zipfile

import openpyxl
from openpyxl.styles import Alignment, Border, Font, Side
from openpyxl.utils import get_column_letter

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
DESCRIPTION = os.path.join(HERE, "reports.json")
LAND_CLASSES = os.path.join(ROOT, "src", "resources", "codes", "land_classes.tsv")

# The four workbooks: file name, mu edition, paged.
VARIANTS = [
    ("二次详查表格.xlsx", False, True),
    ("二次详查表格(亩).xlsx", True, True),
    ("二次详查表格(不分页).xlsx", False, False),
    ("二次详查表格(亩不分页).xlsx", True, False),
]
# The unit words of the tables each edition is filled from.
UNITS = {False: ("PM", "GQ"), True: ("MU",)}
# Hectares carry up to 4 decimals, square metres and mu 2.
NUMBER_FORMAT = {False: "0.00##", True: "0.00"}

HEADER_LINE = "年度：{年度}    级别：{权属性质}    单位：{单位}"
EXTRA_KEY_LABELS = {
    "权属争议类型": "争议类型",
    "权属": "权属性质",
    "耕地后备资源级别": "后备级别",
    "县乡村": "行政区",
    "图幅号": "图幅号",
    "县名称": "县",
    "乡名称": "乡",
    "村名称": "村",
    "村民小组": "村民小组",
    "行政区名称": "行政区",
    "代码": "代码",
}
FOOTER_LINE = "填表人：{填表人}    填表日期：{填表日期}    检查人：{检查人}    检查日期：{检查日期}"
CLASS_SUFFIXES = {"HJ": "合计", "G": "国有", "J": "集体", "K": "可调整"}
# Rows of every sheet: title, header keys, extra keys, labels, fields, data, footer.
FIELD_ROW = 5
DATA_ROW = 6
FIXED_TIME = datetime.datetime(2024, 1, 1)


def load_description():
    with open(DESCRIPTION, encoding="utf-8") as f:
        return json.load(f)


def save_description(desc):
    # One report a line block, its columns on one line, so a diff shows what changed.
    lines = ["{", ' "page_length": %d,' % desc["page_length"]]
    lines.append(' "catalogues": ' + json.dumps(desc["catalogues"], ensure_ascii=False) + ",")
    lines.append(' "labels": ' + json.dumps(desc["labels"], ensure_ascii=False) + ",")
    lines.append(' "reports": [')
    reports = [" " + json.dumps(r, ensure_ascii=False) for r in desc["reports"]]
    lines.append(",\n".join(reports))
    lines.append(" ]")
    lines.append("}")
    with open(DESCRIPTION, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def class_names():
    names = {}
    with open(LAND_CLASSES, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) == 3 and parts[0] == "地类代码":
                names[parts[1]] = parts[2]
    return names


def label_of(column, report, labels, classes):
    if column in labels:
        return labels[column]
    match = re.fullmatch(r"BM(\d+)([A-Z]*)", column)
    if match and report.get("class_labels", True) and match.group(1) in classes:
        name = classes[match.group(1)]
        suffix = match.group(2)
        if not suffix:
            return name
        return name + CLASS_SUFFIXES.get(suffix, "(" + suffix + ")")
    return column


def key_lines(report):
    extra = report.get("keys", [])
    text = "    ".join(EXTRA_KEY_LABELS.get(k, k) + "：{" + k + "}" for k in extra)
    return HEADER_LINE, text


def add_sheet(wb, report, desc, classes, mu, paged):
    ws = wb.create_sheet(report["name"])
    columns = report.get("columns") or []
    width = max(len(columns), 4)
    last = get_column_letter(width)
    thin = Side(style="thin")
    box = Border(left=thin, right=thin, top=thin, bottom=thin)

    def merged_line(row, text, font=None, align="left"):
        ws.cell(row=row, column=1, value=text or None)
        if font:
            ws.cell(row=row, column=1).font = font
        ws.cell(row=row, column=1).alignment = Alignment(horizontal=align)
        ws.merge_cells("A%d:%s%d" % (row, last, row))

    merged_line(1, report["name"], Font(bold=True, size=16), "center")
    header, extra = key_lines(report)
    merged_line(2, header)
    merged_line(3, extra)
    for i, column in enumerate(columns, start=1):
        for row, text in ((4, label_of(column, report, desc["labels"], classes)), (FIELD_ROW, column)):
            cell = ws.cell(row=row, column=i, value=text)
            cell.border = box
            cell.font = Font(bold=True)
            cell.alignment = Alignment(horizontal="center", wrap_text=True)
        ws.column_dimensions[get_column_letter(i)].width = 12
    marker = "{数据:%d}" % desc["page_length"] if paged else "{数据}"
    for i in range(1, max(len(columns), 1) + 1):
        cell = ws.cell(row=DATA_ROW, column=i)
        cell.border = box
        cell.number_format = NUMBER_FORMAT[mu]
    ws.cell(row=DATA_ROW, column=1, value=marker)
    merged_line(DATA_ROW + 1, FOOTER_LINE)
    ws.page_setup.orientation = "landscape"
    ws.page_setup.paperSize = ws.PAPERSIZE_A4
    ws.sheet_properties.pageSetUpPr.fitToPage = True
    ws.page_setup.fitToWidth = 1
    ws.page_setup.fitToHeight = 0


def sheet_reports(desc):
    """The reports with a sheet of their own, the first of each name."""
    seen, reports = set(), []
    for report in desc["reports"]:
        if report["name"] not in seen:
            seen.add(report["name"])
            reports.append(report)
    return reports


def fix_zip_times(path):
    """Gives every part of a saved workbook one fixed time, so that the same
    description always yields the same bytes."""
    with zipfile.ZipFile(path) as zin:
        parts = [(info.filename, zin.read(info.filename)) for info in zin.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zout:
        for name, data in parts:
            zout.writestr(zipfile.ZipInfo(name, FIXED_TIME.timetuple()[:6]), data,
                          compress_type=zipfile.ZIP_DEFLATED)


def build(out):
    desc = load_description()
    classes = class_names()
    os.makedirs(out, exist_ok=True)
    for file_name, mu, paged in VARIANTS:
        wb = openpyxl.Workbook()
        wb.remove(wb.active)
        for report in sheet_reports(desc):
            add_sheet(wb, report, desc, classes, mu, paged)
        wb.properties.creator = "landstat"
        wb.properties.created = FIXED_TIME
        wb.properties.modified = FIXED_TIME
        path = os.path.join(out, file_name)
        wb.save(path)
        fix_zip_times(path)
    for catalogue in desc["catalogues"]:
        root = ET.Element("AutoBuildList")
        for report in desc["reports"]:
            if report["catalogue"] == catalogue:
                ET.SubElement(root, "Row", {"表格名称": report["name"], "statTbl": report["statTbl"],
                                            "shortName": report["shortName"]})
        ET.indent(root)
        ET.ElementTree(root).write(os.path.join(out, catalogue), encoding="UTF-8",
                                   xml_declaration=True)


class Databases:
    """The columns of the tables of one or more SQLite statistics databases."""

    def __init__(self, paths):
        self.connections = [sqlite3.connect("file:%s?mode=ro" % p, uri=True) for p in paths]

    def columns(self, table):
        for conn in self.connections:
            found = conn.execute("select 1 from sqlite_master where type='table' and name=?",
                                 (table,)).fetchone()
            if found:
                return [d[0] for d in conn.execute('select * from "%s" limit 0' % table).description]
        return None

    def expected(self, report, unit):
        """The columns a report's query returns in a unit; None when its table is missing."""
        reads, table = report["reads"], report["statTbl"]
        if reads == "Z":
            return self.columns("Z" + unit + table)
        if reads == "unit":
            return self.columns(unit + table)
        if reads == "plain":
            return self.columns(table)
        if reads.startswith("join:"):
            main, partner = self.columns("Z" + unit + table), self.columns("Z" + unit + reads[5:])
            return None if main is None or partner is None else main + partner
        if reads == "parcel_area":
            base = self.columns("statdata")
            fixed = ["图斑编号", "图斑中各地类编号", "图斑面积", "权属", "是否基本农田", "坡度级"]
            return None if base is None else fixed + base[21:] + ["TBBH"]
        return None


def refresh_columns(paths):
    desc = load_description()
    dbs = Databases(paths)
    for report in desc["reports"]:
        if report.get("pending"):
            continue
        columns = dbs.expected(report, "PM")
        if columns is None:
            sys.exit("no table for %s in the databases" % report["name"])
        report["columns"] = columns
    save_description(desc)


def sheet_fields(ws):
    """The field row (the row above the data row) of a template sheet, and the marker."""
    for row in ws.iter_rows():
        for cell in row:
            if isinstance(cell.value, str) and re.fullmatch(r"\{数据(:\d+)?\}", cell.value):
                fields = [c.value for c in ws[cell.row - 1]][cell.column - 1:]
                while fields and fields[-1] is None:
                    fields.pop()
                return fields, cell.value
    return None, None


def check(folder, paths):
    desc = load_description()
    by_name = {r["name"]: r for r in desc["reports"]}
    dbs = Databases(paths)
    faults = []
    rows = []
    for catalogue in desc["catalogues"]:
        path = os.path.join(folder, catalogue)
        if not os.path.exists(path):
            faults.append("catalogue %s is missing" % path)
            continue
        root = ET.parse(path).getroot()
        if root.tag != "AutoBuildList":
            faults.append("%s: root is %s, not AutoBuildList" % (catalogue, root.tag))
        rows += [(catalogue, row.attrib) for row in root.iter("Row")]
    workbooks = {}
    for file_name, mu, paged in VARIANTS:
        workbooks[file_name] = (openpyxl.load_workbook(os.path.join(folder, file_name)), mu, paged)
    for catalogue, row in rows:
        name = row.get("表格名称", "")
        report = by_name.get(name)
        if len(name) > 31 or re.search(r"[\[\]:*?/\\]", name):
            faults.append("%s: %s is no valid sheet name" % (catalogue, name))
        if report is None or report["statTbl"] != row.get("statTbl") or \
                report["shortName"] != row.get("shortName"):
            faults.append("%s: row %s differs from reports.json" % (catalogue, name))
            continue
        for file_name, (wb, mu, paged) in workbooks.items():
            if name not in wb.sheetnames:
                faults.append("%s: no sheet %s" % (file_name, name))
                continue
            fields, marker = sheet_fields(wb[name])
            if marker is None:
                faults.append("%s/%s: no data row" % (file_name, name))
                continue
            if (marker != "{数据}") == (not paged):
                faults.append("%s/%s: data marker %s" % (file_name, name, marker))
            if report.get("pending"):
                for unit in ("PM", "GQ", "MU"):
                    if dbs.expected(report, unit) is not None:
                        faults.append("%s: its table is built now; give its sheet the table's "
                                      "columns (make_templates.py --refresh-columns)" % name)
                continue
            for unit in UNITS[mu]:
                columns = dbs.expected(report, unit)
                if columns is None:
                    faults.append("%s: no %s table for it in the databases" % (name, unit))
                elif columns != fields:
                    faults.append("%s/%s: headings %s, the %s table's columns %s" %
                                  (file_name, name, fields, unit, columns))
    for fault in faults:
        print(fault)
    print("%d catalogue rows, %d faults" % (len(rows), len(faults)))
    return 1 if faults else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=os.path.join(ROOT, "src", "resources", "templates"))
    parser.add_argument("--refresh-columns", nargs="+", metavar="DB")
    parser.add_argument("--check", nargs="+", metavar="DIR_THEN_DBS")
    args = parser.parse_args()
    if args.refresh_columns:
        refresh_columns(args.refresh_columns)
    elif args.check:
        if len(args.check) < 2:
            parser.error("--check needs the template folder and at least one database")
        sys.exit(check(args.check[0], args.check[1:]))
    else:
        build(args.out)


if __name__ == "__main__":
    main()
