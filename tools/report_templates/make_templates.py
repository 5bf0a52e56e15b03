#!/usr/bin/python3
"""Builds the report templates and the report catalogues from reports.json.

  make_templates.py [--out DIR]
      writes the four template workbooks (二次详查表格.xlsx and its "(亩)",
      "(不分页)" and "(亩不分页)" variants) and the catalogues into DIR
      (default: src/resources/templates of this checkout).
  make_templates.py --refresh-columns DB...
      takes each report's columns from the first SQLite statistics database
      that holds its table and rewrites reports.json with them; a report whose
      columns are already the table's, in another order, keeps its order.
  make_templates.py --check DIR DB...
      checks the templates and catalogues in DIR against the databases: every
      catalogue row (and every row of reports.json without a catalogue, a sheet
      another report's writer fills) has its sheet in all four workbooks, and the field row of
      each sheet names each column of "select *" on the table the report
      reads exactly once (in any order: the writers fill a column by the
      name above it), in every unit the databases hold; a report whose table is not
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
from openpyxl.worksheet.page import PageMargins
from openpyxl.worksheet.pagebreak import Break
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
# The area format of the data cells as the template holds it. The writer
# sets the decimals of the unit at fill time: every number format of the
# form 0.0...0 is an area format to the engine.
AREA_FORMAT = "0.00"
RATIO_FORMAT = "#0.00"
COUNT_FORMAT = "0"
TEXT_FORMAT = "@"

HEADER_LINE = "行政区：{区域}    年度：{年度}    级别：{权属性质}    单位：{单位}"
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
PAGE_NUMBER = "第 &P 页 共 &N 页"
CLASS_SUFFIXES = {"HJ": "合计", "G": "国有", "J": "集体", "K": "可调整"}
# Rows of every sheet: title, header keys, extra keys, two heading rows (a
# class over its sub-classes, else one label over both), the hidden field
# row, the data row, the footer.
GROUP_ROW = 4
LABEL_ROW = 5
FIELD_ROW = 6
DATA_ROW = 7
FIXED_TIME = datetime.datetime(2024, 1, 1)

# What a column holds, by its name: administrative and other codes (the
# longest, a group's, has 19 characters), names, counts, ratios; anything
# else is an area.
CODE_COLUMNS = {"BHKBH", "JBNTBHKNO", "DJH", "TBBH", "图斑编号", "隶属宗地", "房屋编号", "批准文号",
                "土地用途"}
NAME_COLUMNS = {"DCQMC", "房屋名称", "TYPE"}
COUNT_COLUMNS = {"ID", "序号", "ZDS", "宗数", "房屋层数", "坡度级"}
RATIO_COLUMNS = {"CZRJL", "CZJZRJL", "CZJZMD", "建筑密度", "建筑容积率"}
# The font of every cell: the workbook's default, so that column widths,
# which count characters of the default font, hold the same text wherever
# the workbook is printed (Carlito stands in for it where it is missing).
FONT = "Calibri"
# Column widths in characters of the default font, by kind.
WIDTHS = {"code": 22, "name": 18, "count": 7, "ratio": 10, "area": 14}
FORMATS = {"code": TEXT_FORMAT, "name": TEXT_FORMAT, "count": COUNT_FORMAT, "ratio": RATIO_FORMAT,
           "area": AREA_FORMAT}

# Paper, in millimetres: (openpyxl paper size, orientation, width, height).
# The first that shows the table at NORMAL_SCALE or more is chosen; a table
# too wide for all of them goes onto A3 at a fixed scale, spread across
# pages, its code and name columns repeated on each.
PAPERS = [(9, "portrait", 210, 297), (9, "landscape", 297, 210), (8, "landscape", 420, 297)]
# Margins in inches; the top and bottom ones hold the page header and footer
# (see page_margins).
SIDE_MARGIN = 0.4
HEADER_MARGIN = 0.3
NORMAL_SCALE = 75
# The columns repeated on every page of a spread table (see title_columns).
ID_KINDS = ("code", "name")
TITLE_KINDS = ID_KINDS + ("count",)
MAX_TITLE_COLUMNS = 4
SPREAD_SCALE = 70
MIN_SCALE = 55
DATA_ROW_POINTS = 15
LINE_POINTS = 13
# The page header and footer: the title over the key lines, the filler and
# checker over the page number, at these sizes in points, whatever the scale
# of the table. A line of text takes LINE_SPACING times its size.
TITLE_POINTS = 14
KEY_POINTS = 10
FOOTER_POINTS = 9
LINE_SPACING = 1.4
HEADER_GAP_POINTS = 6
# The characters a page header or footer may hold, codes included, in
# spreadsheet programs (the writer refuses a longer one once filled).
MAX_HEADER_CHARACTERS = 255


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


def first_level_classes():
    return [code for code in class_names() if len(code) == 2]


def label_of(column, report, labels, classes):
    if column in labels:
        return labels[column]
    match = re.fullmatch(r"(?:BM|D)(\d+)([A-Z]*)", column)
    if match and report.get("class_labels", True) and match.group(1) in classes:
        name = classes[match.group(1)]
        suffix = match.group(2)
        if not suffix:
            return name
        return name + CLASS_SUFFIXES.get(suffix, "(" + suffix + ")")
    return column


def text_width(text):
    """The width of a text in characters of the default font: two for a CJK character."""
    return sum(2 if ord(ch) > 0x2E80 else 1 for ch in str(text))


def lines_needed(text, width):
    room = max(width - 1, 1)
    return max(1, -(-text_width(text) // room))


def column_kind(column):
    if column in COUNT_COLUMNS:
        return "count"
    if column in RATIO_COLUMNS:
        return "ratio"
    if column in CODE_COLUMNS or column.endswith("DM") or column.endswith("代码"):
        return "code"
    if column in NAME_COLUMNS or column.endswith("MC") or column.endswith("名称"):
        return "name"
    return "area"


def column_mm(width):
    """A column's printed width: width characters of 7 pixels and 5 pixels of
    padding, and a tenth more for programs whose default font is wider."""
    return (width * 7 + 5) * 25.4 / 96 * 1.1


def class_parts(column, report, classes):
    """The class code and suffix of a class column (BM011HJ: 011, HJ), or None."""
    match = re.fullmatch(r"(?:BM|D)(\d+)([A-Z]*)", column)
    if match and report.get("class_labels", True) and match.group(1) in classes:
        return match.group(1), match.group(2)
    return None


def heading_groups(columns, report, classes):
    """Runs of columns [first, last] that belong to one first-level class, the
    class itself and its sub-classes, at least two columns each: (first, last,
    class name)."""
    groups, i = [], 0
    while i < len(columns):
        parts = class_parts(columns[i], report, classes)
        j = i + 1
        if parts:
            head = parts[0][:2]
            while j < len(columns):
                other = class_parts(columns[j], report, classes)
                if not other or other[0][:2] != head:
                    break
                j += 1
            if j - i >= 2:
                groups.append((i, j - 1, classes[head]))
        i = j
    return groups


def sub_label(column, report, classes):
    """The label of a column under its class's merged heading."""
    code, suffix = class_parts(column, report, classes)
    word = CLASS_SUFFIXES.get(suffix, suffix)
    if len(code) == 2:
        return word or "小计"
    return classes[code] + word


def page_margins(report):
    """The margins in inches: the page header (title and key lines) and the
    page footer (filler and checker, page number) fit between the paper's
    edge and the table."""
    header_lines = 2 if report.get("keys") else 1
    header = TITLE_POINTS + header_lines * KEY_POINTS
    footer = 2 * FOOTER_POINTS
    return {"left": SIDE_MARGIN, "right": SIDE_MARGIN, "header": HEADER_MARGIN,
            "footer": HEADER_MARGIN,
            "top": round(HEADER_MARGIN + (header * LINE_SPACING + HEADER_GAP_POINTS) / 72, 2),
            "bottom": round(HEADER_MARGIN + (footer * LINE_SPACING + HEADER_GAP_POINTS) / 72, 2)}


def printable(paper_mm, margins):
    """The width and height a paper's page prints on, in millimetres."""
    width, height = paper_mm
    return (width - (margins["left"] + margins["right"]) * 25.4,
            height - (margins["top"] + margins["bottom"]) * 25.4)


def choose_page(widths, heading_points, paged, page_length, margins):
    """Paper, orientation, scale and whether the table is spread across pages."""
    total = sum(column_mm(w) for w in widths)
    height = (heading_points + page_length * DATA_ROW_POINTS) * 25.4 / 72
    for paper, orientation, paper_w, paper_h in PAPERS:
        room_w, room_h = printable((paper_w, paper_h), margins)
        scale = min(100, room_w / total * 100)
        if paged:
            scale = min(scale, room_h / height * 100)
        if scale >= NORMAL_SCALE:
            return paper, orientation, int(scale), False
    paper, orientation, paper_w, paper_h = PAPERS[-1]
    room_h = printable((paper_w, paper_h), margins)[1]
    scale = SPREAD_SCALE
    if paged:
        scale = min(scale, room_h / height * 100)
    return paper, orientation, max(MIN_SCALE, int(scale)), True


def column_breaks(widths, groups, titles, room):
    """The columns, from 0, that begin the pages after the first of a table
    spread across pages `room` millimetres wide (at the table's own size):
    each page as full as it gets, the repeated columns `titles` at the left
    of every page but the first, and a class group kept on one page
    whenever it fits on one."""
    mm = [column_mm(w) for w in widths]
    repeated = sum(mm[titles[0]:titles[1] + 1]) if titles else 0
    group_of = {i: (first, last) for first, last, _ in groups for i in range(first, last + 1)}
    breaks, start, used, i = [], 0, 0.0, 0
    while i < len(mm):
        if used + mm[i] <= room or i == start:
            used += mm[i]
            i += 1
            continue
        at = i
        first, last = group_of.get(i, (i, i))
        if start < first < i and repeated + sum(mm[first:last + 1]) <= room:
            at = first
        breaks.append(at)
        start, used = at, repeated + sum(mm[at:i])
    return breaks


def group_pieces(first, last, breaks):
    """A group's columns [first, last] cut at the page breaks inside it."""
    cuts = [b for b in breaks if first < b <= last]
    starts = [first] + cuts
    ends = [b - 1 for b in cuts] + [last]
    return list(zip(starts, ends))


# Values as long as the keys' values usually are, for the height of a key line.
EXAMPLE_VALUES = {"区域": "示例县 城关镇大下村一组", "年度": "2024", "权属性质": "村(街坊)级",
                  "单位": "平方米", "填表人": "张三", "检查人": "李四",
                  "填表日期": "2024年12月31日", "检查日期": "2024年12月31日"}


def filled_example(text):
    return re.sub(r"\{([^}]*)\}", lambda m: EXAMPLE_VALUES.get(m.group(1), "全部全部"), text)


def key_lines(report):
    extra = report.get("keys", [])
    text = "    ".join(EXTRA_KEY_LABELS.get(k, k) + "：{" + k + "}" for k in extra)
    return HEADER_LINE, text


def add_sheet(wb, report, desc, classes, mu, paged):
    ws = wb.create_sheet(report["name"])
    columns = sheet_columns(report)
    width = len(columns) if columns else 4
    last = get_column_letter(width)
    thin = Side(style="thin")
    box = Border(left=thin, right=thin, top=thin, bottom=thin)
    body = Font(name=FONT, size=10)
    bold = Font(name=FONT, size=10, bold=True)
    kinds = [column_kind(c) for c in columns]
    widths = [WIDTHS[k] for k in kinds]

    def merged_line(row, text):
        # A key line wraps in a narrow table, as tall as its filled text may need.
        ws.cell(row=row, column=1, value=text or None)
        ws.cell(row=row, column=1).font = body
        ws.cell(row=row, column=1).alignment = Alignment(
            horizontal="left", vertical="center", wrap_text=True)
        if width > 1:
            ws.merge_cells("A%d:%s%d" % (row, last, row))
        lines = lines_needed(filled_example(text or ""), sum(widths) or 48)
        if lines > 1:
            ws.row_dimensions[row].height = lines * LINE_POINTS + 4

    def heading(row, column, text):
        cell = ws.cell(row=row, column=column, value=text)
        cell.border = box
        cell.font = bold
        cell.alignment = Alignment(horizontal="center", vertical="center", wrap_text=True)
        return cell

    margins = page_margins(report)
    paper, orientation, scale, spread = choose_page(widths or [12] * 4, heading_points(
        columns, report, classes, widths, desc["labels"]), paged, desc["page_length"], margins)
    groups = heading_groups(columns, report, classes)
    breaks = []
    if spread:
        paper_mm = next(p[2:] for p in PAPERS if p[0] == paper and p[1] == orientation)
        room = printable(paper_mm, margins)[0] * 100 / scale
        breaks = column_breaks(widths, groups, title_columns(report, kinds), room)
    # The title, the key lines and the footer, for the sheet on screen; the
    # printed pages show them in the page header and footer instead.
    ws.cell(row=1, column=1, value=report["name"])
    ws.cell(row=1, column=1).font = Font(name=FONT, bold=True, size=16)
    ws.cell(row=1, column=1).alignment = Alignment(horizontal="center", vertical="center")
    ws.merge_cells("A1:%s1" % last)
    ws.row_dimensions[1].height = 27
    header, extra = key_lines(report)
    merged_line(2, header)
    merged_line(3, extra)
    # A class stands over its columns on every page they are printed on.
    in_group = {}
    for first, last_index, name in groups:
        for piece in group_pieces(first, last_index, breaks):
            for i in range(piece[0], piece[1] + 1):
                in_group[i] = (piece[0], piece[1], name)
    group_lines, label_lines = heading_lines(columns, report, classes, widths, desc["labels"])
    for i, column in enumerate(columns):
        letter = get_column_letter(i + 1)
        label = label_of(column, report, desc["labels"], classes)
        if i in in_group:
            first, last_index, name = in_group[i]
            text = sub_label(column, report, classes)
            heading(LABEL_ROW, i + 1, text)
            if i == first:
                heading(GROUP_ROW, i + 1, name)
                ws.merge_cells("%s%d:%s%d" % (letter, GROUP_ROW, get_column_letter(last_index + 1),
                                              GROUP_ROW))
            else:
                heading(GROUP_ROW, i + 1, None)
        else:
            heading(GROUP_ROW, i + 1, label)
            heading(LABEL_ROW, i + 1, None)
            ws.merge_cells("%s%d:%s%d" % (letter, GROUP_ROW, letter, LABEL_ROW))
        field = ws.cell(row=FIELD_ROW, column=i + 1, value=column)
        field.font = body
        ws.column_dimensions[letter].width = widths[i]
    ws.row_dimensions[GROUP_ROW].height = group_lines * LINE_POINTS + 4
    ws.row_dimensions[LABEL_ROW].height = label_lines * LINE_POINTS + 4
    # The writers need the field row; a printed table does not show it.
    ws.row_dimensions[FIELD_ROW].hidden = True
    marker = "{数据:%d}" % desc["page_length"] if paged else "{数据}"
    for i in range(1, max(len(columns), 1) + 1):
        kind = kinds[i - 1] if columns else "area"
        cell = ws.cell(row=DATA_ROW, column=i)
        cell.border = box
        cell.font = body
        cell.number_format = FORMATS[kind]
        if kind == "name":
            cell.alignment = Alignment(vertical="center", wrap_text=True)
        elif kind == "code":
            cell.alignment = Alignment(horizontal="left", vertical="center")
        else:
            cell.alignment = Alignment(vertical="center")
    ws.cell(row=DATA_ROW, column=1, value=marker)
    merged_line(DATA_ROW + 1, FOOTER_LINE)
    set_page(ws, report, kinds, (paper, orientation, scale, spread), margins, breaks)


def heading_lines(columns, report, classes, widths, labels):
    """The lines of text the group row and the label row need."""
    groups = heading_groups(columns, report, classes)
    group_lines = max([lines_needed(name, sum(widths[first:last + 1]))
                       for first, last, name in groups] + [1])
    grouped = {i for first, last, _ in groups for i in range(first, last + 1)}
    label_lines = 1
    for i, column in enumerate(columns):
        if i in grouped:
            label_lines = max(label_lines,
                              lines_needed(sub_label(column, report, classes), widths[i]))
        else:
            # A label alone may take the height of both rows.
            label = label_of(column, report, labels, classes)
            label_lines = max(label_lines, lines_needed(label, widths[i]) - group_lines)
    return group_lines, label_lines


def heading_points(columns, report, classes, widths, labels):
    group_lines, label_lines = heading_lines(columns, report, classes, widths, labels)
    return (group_lines + label_lines) * LINE_POINTS + 8


def sheet_columns(report):
    """A report's columns in the order its sheet shows them: the columns of
    its row key first (see title_columns), then the others in their order."""
    columns = report.get("columns") or []
    key = report.get("row_key", [])
    missing = [c for c in key if c not in columns]
    if missing or len(key) > MAX_TITLE_COLUMNS:
        sys.exit("%s: the row key %s names columns the report lacks (%s) or more than %d" %
                 (report["name"], key, missing, MAX_TITLE_COLUMNS))
    return key + [c for c in columns if c not in key]


def title_columns(report, kinds):
    """The columns [first, last] a spread table repeats on every page, those
    that say whose row it is: the report's row key, the columns a reader
    needs on every page to tell one row from another (a ledger's unit and
    parcel number, not the province every row shares), which its sheet shows
    first; else its leading code, name and count columns, at most
    MAX_TITLE_COLUMNS. None when it does not begin with a code or a name
    (columns repeat only at the left of a page)."""
    if report.get("row_key"):
        return 0, len(report["row_key"]) - 1
    last = -1
    while last + 1 < min(len(kinds), MAX_TITLE_COLUMNS) and kinds[last + 1] in TITLE_KINDS:
        last += 1
    if not any(k in ID_KINDS for k in kinds[:last + 1]):
        return None
    return 0, last


def header_text(text):
    """A text as a page header or footer shows it: its ampersands doubled."""
    return text.replace("&", "&&")


def page_header(report):
    """The title and the key lines, centred over every printed page."""
    header, extra = key_lines(report)
    lines = [header] + ([extra] if extra else [])
    return ('&"%s,Bold"&%d%s\n&"%s,Regular"&%d%s' %
            (FONT, TITLE_POINTS, header_text(report["name"]), FONT, KEY_POINTS,
             "\n".join(header_text(line) for line in lines)))


def page_footer():
    """The filler and checker over the page number, under every printed page."""
    return '&"%s,Regular"&%d%s\n%s' % (FONT, FOOTER_POINTS, header_text(FOOTER_LINE), PAGE_NUMBER)


def set_page(ws, report, kinds, page, margins, breaks):
    paper, orientation, scale, spread = page
    ws.page_setup.paperSize = paper
    ws.page_setup.orientation = orientation
    ws.page_setup.scale = scale
    ws.sheet_properties.pageSetUpPr.fitToPage = False
    ws.page_margins = PageMargins(**margins)
    ws.print_options.horizontalCentered = not spread
    ws.HeaderFooter.scaleWithDoc = False
    ws.oddHeader.center.text = page_header(report)
    ws.oddFooter.center.text = page_footer()
    for text in (ws.oddHeader.center.text, ws.oddFooter.center.text):
        if len(filled_example(text)) > MAX_HEADER_CHARACTERS:
            sys.exit("%s: the page header or footer is too long: %s" % (report["name"], text))
    # Printed: the heading rows on every page and the data below them; the
    # writer extends the area over the rows it fills.
    last = get_column_letter(len(kinds) or 4)
    ws.print_area = "A%d:%s%d" % (GROUP_ROW, last, DATA_ROW)
    ws.print_title_rows = "%d:%d" % (GROUP_ROW, FIELD_ROW)
    if spread:
        # Across, then down: each block of rows is read through its pages.
        ws.page_setup.pageOrder = "overThenDown"
        titles = title_columns(report, kinds)
        if titles:
            ws.print_title_cols = "%s:%s" % (get_column_letter(titles[0] + 1),
                                             get_column_letter(titles[1] + 1))
        for column in breaks:
            ws.col_breaks.append(Break(id=column, max=1048575))


def sheet_reports(desc):
    """The reports with a sheet of their own, the first of each name."""
    seen, reports = set(), []
    for report in desc["reports"]:
        if report["name"] not in seen:
            seen.add(report["name"])
            reports.append(report)
    return reports


def header_line_breaks(data):
    """A sheet part with the line breaks of its page header and footer
    written as they are: openpyxl writes them as _x000a_, which not every
    program reads there."""
    text = data.decode("utf-8")
    text = re.sub(r"<(oddHeader|oddFooter)>(.*?)</\1>",
                  lambda m: "<%s>%s</%s>" % (m.group(1), m.group(2).replace("_x000a_", "\n"),
                                             m.group(1)), text)
    return text.encode("utf-8")


def finish_package(path):
    """Gives every part of a saved workbook one fixed time, so that the same
    description always yields the same bytes, and its page headers and
    footers their line breaks."""
    with zipfile.ZipFile(path) as zin:
        parts = [(info.filename, zin.read(info.filename)) for info in zin.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zout:
        for name, data in parts:
            if name.startswith("xl/worksheets/") and name.endswith(".xml"):
                data = header_line_breaks(data)
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
        finish_package(path)
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
        if reads == "balance":
            # The change balance table is built when the report is written:
            # its sheet shows the row name, the first-level classes and the total.
            return ["地类名称"] + ["D" + code for code in first_level_classes()] + ["合计"]
        if reads == "parcel_area":
            base = self.columns("statdata")
            fixed = ["图斑编号", "图斑中各地类编号", "图斑面积", "权属", "是否基本农田", "坡度级"]
            # The base columns from 来源 on, by name, and the row order.
            return None if base is None else fixed + base[base.index("来源"):] + ["序号"]
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
        if not same_columns(report.get("columns", []), columns):
            report["columns"] = columns
    save_description(desc)


def same_columns(fields, columns):
    """Whether a field row names each of a table's columns exactly once."""
    return sorted(fields) == sorted(columns)


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
    # The sheets without a catalogue row (a sheet another report's writer
    # fills) are checked as the catalogue's.
    rows += [("(sheet only)", {"表格名称": r["name"], "statTbl": r["statTbl"],
                               "shortName": r["shortName"]})
             for r in desc["reports"] if r["catalogue"] not in desc["catalogues"]]
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
                elif not same_columns(fields, columns):
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
