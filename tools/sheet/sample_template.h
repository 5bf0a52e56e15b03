#pragma once

#include <string>

namespace landstat::sheet {

// Writes a small report template for tests and the benchmark: sheets
// "报表甲" and "报表乙" laid out alike (a title "{年度}年 <name>" held as a
// shared text, "单位：{单位}", the headings 代码 / 名称 / 面积 / 面积, the data
// row "{数据:2}" with a text style and a number style, the footer
// "填表人：{填表人}", titles and footer merged over the four columns; 报表乙
// prints from its heading row, repeated, and has a page header and footer
// with keys), and "其他", a sheet without a data row.
void WriteSampleTemplate(const std::string& path);

}  // namespace landstat::sheet
