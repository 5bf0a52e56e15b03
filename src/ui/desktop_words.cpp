#include "ui/desktop_words.h"

#include <QLibraryInfo>
#include <QLocale>
#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <vector>

namespace landstat::qt {
namespace {

// The engine's English words and the desktop's Chinese ones. In the English
// "{}" stands for what the message names (a file, a layer, a value, or a
// message within it); the Chinese names them by number, "{0}" the first, and
// may leave out what a user need not read (the table behind a report).
struct Words {
  const char* english;
  const char* chinese;
};

// The engine's own messages.
const Words kEngineWords[] = {
    // The job's database and its workspace.
    {"the disk is full: the job's work is not saved ({})", "磁盘已满, 作业的结果没有保存 ({0})"},
    {"the disk failed to read or write: the job's work is not saved ({})",
     "磁盘读写出错, 作业的结果没有保存 ({0})"},
    {"the job's work is not saved: {}", "作业的结果没有保存: {0}"},
    {"{} holds GIS layers (a GeoPackage or spatial database, perhaps the survey's own): the "
     "statistics go into a database file of their own",
     "{0} 中有GIS图层 (GeoPackage或空间数据库, 可能就是调查数据): 统计数据须存入单独的数据库文件"},
    {"the folder {} cannot be written ({}): a job on {} works on a copy of it in that folder",
     "文件夹 {0} 不能写入 ({1}): 处理 {2} 的作业要在该文件夹中使用它的副本"},
    {"another job is working on {} for {} {}", "另一个作业正在处理 {0} 中 {1} 年 {2} 的数据"},
    {"another job is working on {}", "另一个作业正在处理 {0}"},
    {"another {} job is working on {} (its tables, named without year or county, take one job at "
     "a time)",
     "另一个{0}作业正在处理 {1} (这些表名不含年度和县, 一次只能由一个作业处理)"},
    {"{} holds the {} tables (named without year or county) of year {}, county {}; to run {} {} "
     "into them, replace them (--replace)",
     "{0} 中的{1}表 (表名不含年度和县) 是 {2} 年 {3} 的; 要汇总 {4} {5}, 须替换它们"},
    {"{} holds the statistics of year {}, county {}; to run {} {} into it, replace them "
     "(--replace)",
     "{0} 中是 {1} 年 {2} 的统计; 要汇总 {3} {4}, 须替换它们"},
    {"no statistics database {}", "没有统计数据库 {0}"},
    {"the last job on this database did not finish: {}; its tables may be incomplete",
     "这个数据库上的最后一个作业没有完成: {0}; 它的表格可能不完整"},
    {"the last job of {} {} did not finish ({}): run the statistics again first",
     "{0} {1} 的最后一个作业没有完成 ({2}): 请先重新统计"},
    {"the last job of {} {} in {} did not finish: run the statistics again first",
     "{2} 中 {0} {1} 的最后一个作业没有完成: 请先重新统计"},
    {"(started {})", "(开始于 {0})"},
    {"cannot record the job in the database: {}", "无法在数据库中记录作业: {0}"},
    {"cannot make the working copy of {}: {}", "无法建立 {0} 的工作副本: {1}"},
    {"cannot make the working copy {}: {}", "无法建立工作副本 {0}: {1}"},
    {"the disk holding {} is full: a job on {} needs about {} free beside it, {} are free",
     "{0} 所在的磁盘已满: 处理 {1} 的作业需要约 {2} 的空闲空间, 现有 {3}"},
    {"the disk holding {} is full: the working copy of {} could not be made",
     "{0} 所在的磁盘已满: 无法建立 {1} 的工作副本"},
    {"the job's workspace is not open", "作业的工作区没有打开"},
    {"the job lock on {} for {} {} was lost with its session: the job's work is not committed",
     "{0} 上 {1} {2} 的作业锁随其会话丢失: 作业的结果没有提交"},
    {"cannot complete the job: {}", "无法完成作业: {0}"},
    {"cannot write {} to disk", "无法把 {0} 写入磁盘"},
    {"{} is in use by another program, which keeps its write-ahead log from being written back: "
     "the job's results are not saved; run the job again",
     "{0} 正被另一个程序使用, 其预写日志无法写回: 作业的结果没有保存, 请重新运行作业"},
    {"{} was changed by another program while the job ran: the job's results are not saved, so "
     "that its changes are kept; run the job again",
     "作业运行时 {0} 被另一个程序修改: 为保留这些修改, 作业的结果没有保存, 请重新运行作业"},
    {"cannot replace {}: {}", "无法替换 {0}: {1}"},
    {"could not remove {}: {}", "无法删除 {0}: {1}"},
    {"the statistics database {} holds no completed statistics run, not those of {}: run the "
     "statistics of {} first",
     "统计数据库 {0} 中没有完成的统计, 也没有 {1} 的: 请先统计 {2}"},
    {"the statistics database {} holds no completed statistics run of {}: run the statistics of "
     "{} first",
     "统计数据库 {0} 中没有 {1} 的完成的统计: 请先统计 {2}"},
    {"the statistics database {} holds the statistics of {}, not those of {}: run the statistics "
     "of {} first",
     "统计数据库 {0} 中是 {1} 的统计, 不是 {2} 的: 请先统计 {3}"},
    {"cannot read what the statistics database holds: {}", "无法读取统计数据库的内容: {0}"},
    {"cannot read the years held in {}: {}", "无法读取 {0} 中的年度: {1}"},
    {"cannot list the folder {}: {}", "无法列出文件夹 {0}: {1}"},
    {"no record of jobs on this kind of database", "这种数据库上没有作业记录"},
    {"the server's search path names no schema to keep the statistics in",
     "服务器的搜索路径中没有可存放统计数据的模式"},
    {"the earlier table {} cannot be replaced", "原有的表 {0} 不能替换"},

    // Connections and databases.
    {"the connection string is empty", "连接串为空"},
    {"the connection string has an unclosed quote", "连接串中的引号没有闭合"},
    {"the connection string names no Provider: {}", "连接串没有指定 Provider: {0}"},
    {"the connection string names an unknown provider: {}", "连接串指定了未知的 Provider: {0}"},
    {"the connection string names no Data Source: {}", "连接串没有指定 Data Source: {0}"},
    {"the server's connection string is not understood: invalid connection option {}",
     "无法识别服务器的连接串: 未知的连接参数 {0}"},
    {"the server's connection string is not understood", "无法识别服务器的连接串"},
    {"Oracle databases cannot be opened here: their statements are generated as text only",
     "这里不能打开Oracle数据库: 只生成它的语句文本"},
    {"the database connection is not open", "数据库连接没有打开"},
    {"(unreadable)", "(无法识别)"},
    {"the database file {} does not exist", "数据库文件 {0} 不存在"},
    {"cannot open the database file {}: {}", "无法打开数据库文件 {0}: {1}"},
    {"cannot create the database file {}: its folder does not exist",
     "无法建立数据库文件 {0}: 它的文件夹不存在"},
    {"cannot create the database file {}: {}", "无法建立数据库文件 {0}: {1}"},
    {"cannot copy {} to {}: {}", "无法把 {0} 复制到 {1}: {2}"},
    {"cannot connect to the PostgreSQL server ({}): {}", "无法连接PostgreSQL服务器 ({0}): {1}"},
    {"the PostgreSQL server ({}) does not accept the UTF8 client encoding: {}",
     "PostgreSQL服务器 ({0}) 不接受UTF8客户端编码: {1}"},
    {"the connection to the PostgreSQL server ({}) was lost: {}",
     "与PostgreSQL服务器 ({0}) 的连接已断开: {1}"},
    {"the connection to the PostgreSQL server ({}) was lost",
     "与PostgreSQL服务器 ({0}) 的连接已断开"},
    {"host {} port {} database {}", "主机 {0} 端口 {1} 数据库 {2}"},
    {"the commit failed and the transaction was rolled back: {}", "提交失败, 事务已回滚: {0}"},
    {"the server did not commit the transaction: {}", "服务器没有提交事务: {0}"},
    {"a statement of the transaction failed, so the transaction cannot be committed",
     "事务中有语句失败, 事务不能提交"},
    {"the writes of a recordset that an error interrupted were rolled back, with the rest of "
     "their transaction",
     "被错误中断的写入已随其事务回滚"},
    {"the text '{}' of field {} is not a number", "字段 {1} 的文本 '{0}' 不是数字"},
    {"the value {} of field {} does not fit an integer", "字段 {1} 的值 {0} 超出整数范围"},

    // Folders, logs, settings and what is typed.
    {"the output folder {} cannot be made: {}", "无法建立输出文件夹 {0}: {1}"},
    {"the output folder {} is no folder", "输出文件夹 {0} 不是文件夹"},
    {"the output folder {} is not a folder", "输出文件夹 {0} 不是文件夹"},
    {"the output folder {} cannot be written: {}", "输出文件夹 {0} 不能写入: {1}"},
    {"the output folder {} cannot be opened: {}", "无法打开输出文件夹 {0}: {1}"},
    {"the output folder {} cannot be locked: {}", "无法锁定输出文件夹 {0}: {1}"},
    {"another print is writing into the output folder {}; start this one when it has ended",
     "另一次出表正在写入输出文件夹 {0}; 请等它结束后再出表"},
    {"; no report written", "; 没有写出报表"},
    {"cannot open the log file {}: {}", "无法打开日志文件 {0}: {1}"},
    {"cannot write the log {}", "无法写入日志 {0}"},
    {"it is a symbolic link", "它是符号链接"},
    {"it is no regular file", "它不是普通文件"},
    {"no path given", "没有给出路径"},
    {"the year '{}' is not four digits", "年度 '{0}' 不是四位数字"},
    {"the county code '{}' is not six digits", "县级代码 '{0}' 不是六位数字"},
    {"{} is missing: every setting takes its default", "{0} 不存在: 所有设置取默认值"},
    {", the settings it holds may take their defaults", ", 其中的设置可能取默认值"},
    {"cannot be read", "无法读取"},
    {"line {} is not a setting", "第 {0} 行不是设置"},
    {"not a whole number from 0 to 10, 2 is used", "不是0到10的整数, 取2"},
    {"neither 0, 1 nor 2, 2 (both scopes) is used", "不是0、1或2, 取2 (两种口径)"},
    {"no area unit (平方米, 公顷 or 亩)", "不是面积单位 (平方米、公顷或亩)"},
    {"[AreaUnit] {}={} repeats {}={}", "[AreaUnit] {0}={1} 与 {2}={3} 重复"},

    // Reports: named by their titles, their tables left out.
    {"report {} (table {}): {}", "报表 {0}: {2}"},
    {"report {}: written to {}, but it cannot be shown: {}",
     "报表 {0}: 已写入 {1}, 但无法打开: {2}"},
    {"report {}: its writer {} (rule {}) is not available in this version",
     "报表 {0}: 本版本没有它的出表程序"},
    {"report {}: {}", "报表 {0}: {1}"},
    {"an unknown failure", "未知错误"},
    {"not written", "没有写出"},
    {"; the unfilled copy {} could not be removed: {}", "; 未填写的副本 {0} 无法删除: {1}"},
    {"; cleaning up failed as well: {}", "; 清理也失败了: {0}"},
    {"no work copy can be made in {}: {}", "无法在 {0} 中建立工作副本: {1}"},
    {"no report catalogue {}", "没有报表目录 {0}"},
    {"cannot read the report catalogue {}: {}", "无法读取报表目录 {0}: {1}"},
    {"the report catalogue {} lists no report", "报表目录 {0} 中没有报表"},
    {"the report catalogue {} holds no such report (or is no readable XML)",
     "报表目录 {0} 中没有这个报表 (或不是可读的XML)"},
    {"the report catalogue {} gives the table \"{}\", which is no table name (letters, digits "
     "and _ only)",
     "报表目录 {0} 给出的表 \"{1}\" 不是表名 (只能有字母、数字和_)"},
    {"the report catalogue {} gives the file name \"{}\", which is no plain file name",
     "报表目录 {0} 给出的文件名 \"{1}\" 不是普通的文件名"},
    {"no template workbook {}", "没有模板工作簿 {0}"},
    {"the workbook {} would not lie in the output folder {}", "工作簿 {0} 不在输出文件夹 {1} 中"},
    {"no village of region {} has protection blocks", "区域 {0} 中没有村有保护块"},
    {"the table {} holds the county as a whole, not region {}; write it for the county",
     "该报表只有全县的数据, 没有区域 {1} 的; 请按全县出表"},
    {"no base table {}", "没有基础汇总表 {0}"},
    {"no farmland base table {} for the farmland marks",
     "没有基本农田基础表 {0}, 无法标记基本农田"},
    {"no adjustable-farmland table {} to join with {}", "没有可调整耕地表 {0}"},
    {"no Inner Mongolia ledger {}", "没有内蒙古台帐 {0}"},
    {"the Inner Mongolia ledger work table {} holds 图斑编号 as a number (made by an earlier "
     "version): run landstat mongolia again to make it anew",
     "内蒙古台帐工作表 {0} 的图斑编号是数值 (由早先的版本建立): 请重新进行内蒙古统计以重建它"},
    {"the table {} has no column {}", "表 {0} 没有列 {1}"},
    // Why a ticked report is left out, after its title.
    {"{}, built by the town-lot run (landstat town)", "由城镇宗地汇总生成"},
    {"{}, built by a {} run or the town-lot run (landstat town)", "由{1}汇总或城镇宗地汇总生成"},
    {"{}, built by a landstat mongolia run", "由内蒙古汇总生成"},
    {"{}, built by a {} run or a {} run", "由{1}汇总或{2}汇总生成"},
    {"{}, built by a {} run", "由{1}汇总生成"},
    {"{}, not in the database", "统计数据库中没有它的表格"},
    {"no table of its own is built yet", "还没有生成它的表格的汇总"},
    {"its writer {} is not in this version", "本版本没有它的出表程序"},
    {"the statistics of {} {} hold no tables in {}, only in {}",
     "{0} {1} 的统计中没有以{2}为单位的表格, 只有以{3}为单位的"},
    {"the statistics of {} {} hold no report tables in {}, only in {}",
     "{0} {1} 的统计中没有以{2}为单位的上报表格, 只有以{3}为单位的"},
    {"the statistics of {} {} hold no report tables in {}",
     "{0} {1} 的统计中没有以{2}为单位的上报表格"},
    {"the last statistics run of {} for {} did not finish; run it again first",
     "{1} {0} 年的最后一次统计没有完成; 请先重新统计"},
    {"no change records of {} ({}): the survey has no layer {}",
     "没有 {0} 年的变更记录: 调查数据中没有图层 {2}"},
    {"no statistics of {} ({}): no file {}", "没有 {0} 年的统计: 没有文件 {2}"},
    {"no statistics of {} ({}) in {}", "{2} 中没有 {0} 年的统计"},
    {"no statistics of {} ({}): {}", "没有 {0} 年的统计: {2}"},
    {"no statistics of {} ({})", "没有 {0} 年的统计"},
    {"no statistics database of {} at {}: {}", "没有 {0} 年的统计数据库 {1}: {2}"},
    {"there is no such file", "没有这个文件"},
    {": no change records were copied from the layer {}", ": 没有从图层 {0} 复制变更记录"},
    {"the table cannot be converted to the unit", "表格不能换算到该单位"},

    // Workbooks.
    {"template workbook {}: {}", "模板工作簿 {0}: {1}"},
    {"workbook {}, sheet \"{}\": the work file cannot be written: {}",
     "工作簿 {0} 工作表 \"{1}\": 无法写入工作文件: {2}"},
    {"workbook {}, sheet \"{}\": {}", "工作簿 {0} 工作表 \"{1}\": {2}"},
    {"workbook {}: no work folder can be made in {}: {}",
     "工作簿 {0}: 无法在 {1} 中建立工作文件夹: {2}"},
    {"workbook {}: no work file can be made in {}: {}",
     "工作簿 {0}: 无法在 {1} 中建立工作文件: {2}"},
    {"workbook {} not saved: a fill failed: {}", "工作簿 {0} 没有保存: 填写失败: {1}"},
    {"workbook {} saved, but no program is set to show it",
     "工作簿 {0} 已保存, 但没有可以打开它的程序"},
    {"workbook {}: {}", "工作簿 {0}: {1}"},
    {"cannot create the workbook {}", "无法建立工作簿 {0}"},
    {"cannot write the workbook {}", "无法写入工作簿 {0}"},
    {"no sheet \"{}\"", "没有工作表 \"{0}\""},
    {"cannot be opened: {}", "无法打开: {0}"},
    {"cannot be saved: {}", "无法保存: {0}"},
    {"holds no sheet", "没有工作表"},
    {"part {} is damaged", "部件 {0} 已损坏"},
    {"report \"{}\" has {} rows, more than the {} the sheet holds below its headings; nothing "
     "written",
     "报表 \"{0}\" 有 {1} 行, 超过了工作表标题下可容纳的 {2} 行; 没有写出"},
    {"has no data row (a cell \"{数据}\")", "没有数据行 (含 \"{数据}\" 的单元格)"},

    // Merges, batches and report data.
    {"{} has no base table statdata", "{0} 中没有基础汇总表 statdata"},
    {"{} holds no completed statistics run", "{0} 中没有完成的统计"},
    {"{} is no statistics database ({})", "{0} 不是统计数据库 ({1})"},
    {"{} is both the rural and the town database", "{0} 既是农村数据库又是城镇数据库"},
    {"no output folder given", "没有给出输出文件夹"},
    {"no code table given", "没有给出数据字典"},
    {"the rural or the town database is not given", "没有给出农村或城镇数据库"},
    {"a job is running on {}", "{0} 上正在运行一个作业"},
    {"the rural database holds {} {}, the town database {} {}",
     "农村数据库是 {0} {1} 的, 城镇数据库是 {2} {3} 的"},
    {"the two base tables statdata differ in {}", "两个基础汇总表 statdata 的 {0} 不同"},
    {"cannot copy {} to a scratch file: {}", "无法把 {0} 复制到临时文件: {1}"},
    {"the new file {} would replace the input {}: choose another output folder",
     "新文件 {0} 会替换输入的 {1}: 请选择另一个输出文件夹"},
    {"{} would write over the county's input {}", "{0} 会覆盖该县输入的 {1}"},
    {"county {} passed over: {}", "县 {0} 未汇总: {1}"},
    {"county {} failed", "县 {0} 汇总失败"},
    {"not run: the batch was cancelled", "没有汇总: 作业已取消"},
    {"not run: the batch stopped at county {}", "没有汇总: 批量汇总在县 {0} 处停止"},
    {"cannot keep the rural and the town rows of the base tables",
     "无法保留基础汇总表中的农村和城镇记录"},
    {"cannot copy the base-table rows: {}", "无法复制基础汇总表的记录: {0}"},
    {"{} holds the table {}, not report data only: choose another folder",
     "{0} 中有表 {1}, 不只是上报数据: 请选择另一个文件夹"},
    {"{} is not a report-data file ({}): choose another folder",
     "{0} 不是上报数据文件 ({1}): 请选择另一个文件夹"},
    {"table {} was not copied", "表 {0} 没有复制"},
    {"the project {} lists no survey layer but the districts",
     "项目 {0} 中除行政辖区外没有调查图层"},
    {"no survey in the county catalogue", "县目录中没有调查数据"},
    {"no district ticked", "没有勾选行政区"},
    {"no county catalogue {}", "没有县目录 {0}"},
    {"cannot create the county catalogue {}", "无法建立县目录 {0}"},
    {"cannot create {} in {}", "无法在 {1} 中建立 {0}"},
    {"cannot create {}", "无法建立 {0}"},
    {"cannot write in the folder of {}: {}", "无法写入 {0} 所在的文件夹: {1}"},
    {"cannot put the new file in the place of {}: {}", "无法用新文件替换 {0}: {1}"},

    // Projects, code files, layers and ranges.
    {"cannot read the project file {}: {}", "无法读取项目文件 {0}: {1}"},
    {"the project file {} has no <GisProject> element", "项目文件 {0} 中没有 <GisProject> 元素"},
    {"the project file {} gives the county code (sCode) '{}', which is not six digits",
     "项目文件 {0} 给出的县级代码 (sCode) '{1}' 不是六位数字"},
    {"the project file {} lists a layer without a name or a source",
     "项目文件 {0} 中有图层没有名称或数据源"},
    {"cannot write the project file {}", "无法写入项目文件 {0}"},
    {"the project file {} lists no layers to cut", "项目文件 {0} 中没有可裁切的图层"},
    {"the project file {} has no layer \"{}\"", "项目文件 {0} 中没有图层 \"{1}\""},
    {"the code file {} that {} names is missing", "{1} 指定的代码文件 {0} 不存在"},
    {"cannot read the code file {}", "无法读取代码文件 {0}"},
    {"the code file {} holds no land classes (地类代码)", "代码文件 {0} 中没有地类代码"},
    {"code file {}, line {}: expected 代码类型, 代码 and 代码名称 separated by tabs",
     "代码文件 {0} 第 {1} 行: 应为用制表符分隔的代码类型、代码和代码名称"},
    {"code file {}, line {}: {}", "代码文件 {0} 第 {1} 行: {2}"},
    {"the land class code '{}' is not letters and digits", "地类代码 '{0}' 不是字母和数字"},
    {"the administrative code '{}' is not digits", "行政代码 '{0}' 不是数字"},
    {"cannot open layer \"{}\" of {}: the data source does not exist: {}",
     "无法打开 {1} 的图层 \"{0}\": 数据源不存在: {2}"},
    {"cannot open layer \"{}\" of {}: the data source has no layer of that name ({})",
     "无法打开 {1} 的图层 \"{0}\": 数据源中没有这个图层 ({2})"},
    {"cannot open layer \"{}\" of {}: {}", "无法打开 {1} 的图层 \"{0}\": {2}"},
    {"its layers:{}", "它的图层:{0}"},
    {"it has no layers", "它没有图层"},
    {"layer \"{}\" of {}, record {}: the text \"{}\" for numeric field \"{}\" is not a number",
     "{1} 的图层 \"{0}\" 记录 {2}: 数值字段 \"{4}\" 的文本 \"{3}\" 不是数字"},
    {"layer \"{}\" of {} has no field \"{}\"", "{1} 的图层 \"{0}\" 没有字段 \"{2}\""},
    {"layer \"{}\" of {} is open for reading only", "{1} 的图层 \"{0}\" 以只读方式打开"},
    {"layer \"{}\" has no field \"{}\"", "图层 \"{0}\" 没有字段 \"{1}\""},
    {"cannot open {}: {}", "无法打开 {0}: {1}"},
    {"the range polygon file {} holds no polygon", "范围多边形文件 {0} 中没有多边形"},
    {"the range polygon file {}: its polygons enclose no area",
     "范围多边形文件 {0}: 多边形没有面积"},
    {"cannot read the range polygon file {}: {}", "无法读取范围多边形文件 {0}: {1}"},
    {"cannot bring the range polygon of {} ({}) into the coordinates of the county's layers ({}): "
     "{}",
     "无法把 {0} 的范围多边形 ({1}) 转换到县图层的坐标系 ({2}): {3}"},
    {"the range folder {} holds the county's own files; a range needs a folder of its own",
     "范围文件夹 {0} 中有县的数据文件; 范围需要单独的文件夹"},
    {"the range polygon file {} would be replaced by the cut; keep it out of the range folder",
     "裁切会替换范围多边形文件 {0}; 请把它放在范围文件夹之外"},
    {"cannot write beside the range folder {}", "无法在范围文件夹 {0} 旁写入"},
    {"cannot make the range folder {}", "无法建立范围文件夹 {0}"},
    {"another cut is writing the range folder {}", "另一个裁切正在写入范围文件夹 {0}"},
    {"the range polygon {} holds no record of layer \"{}\" of the county",
     "范围多边形 {0} 中没有县的图层 \"{1}\" 的记录"},
    {"no county project file was given to cut", "没有给出要裁切的县项目文件"},
    {"no range polygon file was given", "没有给出范围多边形文件"},
    {"no range folder was given", "没有给出范围文件夹"},
};

// The words of SQLite and of the system that the engine's messages pass on.
const Words kForeignWords[] = {
    // SQLite's.
    {"database is locked", "数据库被锁定"},
    {"unable to open database file", "无法打开数据库文件"},
    {"disk I/O error", "磁盘读写错误"},
    {"database or disk is full", "数据库或磁盘已满"},
    {"attempt to write a readonly database", "试图写入只读数据库"},
    {"file is not a database", "文件不是数据库"},
    {"database disk image is malformed", "数据库文件已损坏"},
    {"no such table: {}", "没有表 {0}"},
    {"no such column: {}", "没有列 {0}"},
    // The system's.
    {"No such file or directory", "文件或文件夹不存在"},
    {"Permission denied", "没有权限"},
    {"No space left on device", "磁盘空间不足"},
    {"Read-only file system", "文件系统只读"},
    {"Input/output error", "输入/输出错误"},
    {"Too many open files", "打开的文件过多"},
    {"Not a directory", "不是文件夹"},
    {"Is a directory", "是文件夹"},
    {"out of memory", "内存不足"},
};

// A template of the English words: its literal pieces, one more than the
// places where it names something.
struct Pattern {
  std::vector<std::string> pieces;
  std::string chinese;
};

std::vector<Pattern> Patterns() {
  std::vector<Words> all(std::begin(kEngineWords), std::end(kEngineWords));
  all.insert(all.end(), std::begin(kForeignWords), std::end(kForeignWords));
  std::vector<Pattern> patterns;
  for (const Words& words : all) {
    Pattern pattern;
    const std::string english = words.english;
    std::size_t from = 0;
    for (std::size_t at = english.find("{}"); at != std::string::npos;
         at = english.find("{}", from)) {
      pattern.pieces.push_back(english.substr(from, at - from));
      from = at + 2;
    }
    pattern.pieces.push_back(english.substr(from));
    pattern.chinese = words.chinese;
    patterns.push_back(std::move(pattern));
  }
  // The longest first: a message within a longer one is its part.
  std::stable_sort(patterns.begin(), patterns.end(), [](const Pattern& a, const Pattern& b) {
    std::size_t length_a = 0, length_b = 0;
    for (const std::string& piece : a.pieces) length_a += piece.size();
    for (const std::string& piece : b.pieces) length_b += piece.size();
    return length_a > length_b;
  });
  return patterns;
}

// A template matched in a line: the text before and after it, and what it
// names.
struct Match {
  std::string before, after;
  std::vector<std::string> named;
};

// What a template that begins by naming something names there: the word
// before its first piece (no blank, quote or bracket in it).
std::size_t WordStart(const std::string& line, std::size_t end) {
  std::size_t start = end;
  while (start > 0) {
    const char c = line[start - 1];
    if (std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == '"') break;
    --start;
  }
  return start;
}

std::optional<Match> MatchIn(const std::string& line, const Pattern& pattern) {
  const std::vector<std::string>& pieces = pattern.pieces;
  const std::size_t names = pieces.size() - 1;
  Match match;
  std::size_t at = 0;  // where the next piece is looked for
  std::size_t start = 0;
  if (!pieces[0].empty()) {
    start = line.find(pieces[0]);
    if (start == std::string::npos) return std::nullopt;
    at = start + pieces[0].size();
  } else {
    // Begins by naming something: a word before the next piece.
    const std::size_t next = line.find(pieces[1]);
    if (next == std::string::npos || next == 0) return std::nullopt;
    start = WordStart(line, next);
    if (start == next) return std::nullopt;
    at = start;
  }
  match.before = line.substr(0, start);
  for (std::size_t i = 1; i <= names; ++i) {
    const std::string& piece = pieces[i];
    if (piece.empty()) {  // names the rest of the line
      if (at >= line.size()) return std::nullopt;
      match.named.push_back(line.substr(at));
      at = line.size();
      continue;
    }
    // The last piece is looked for from the end: what is named before it
    // may hold it (a message in brackets).
    const std::size_t found = i == names ? line.rfind(piece) : line.find(piece, at + 1);
    if (found == std::string::npos || found <= at) return std::nullopt;
    match.named.push_back(line.substr(at, found - at));
    at = found + piece.size();
  }
  match.after = line.substr(at);
  return match;
}

std::string LineInChinese(const std::string& line, const std::vector<Pattern>& patterns);

std::string Filled(const std::string& chinese, const std::vector<std::string>& named,
                   const std::vector<Pattern>& patterns) {
  std::string text;
  for (std::size_t i = 0; i < chinese.size(); ++i) {
    if (chinese[i] == '{' && i + 2 < chinese.size() && std::isdigit(chinese[i + 1]) &&
        chinese[i + 2] == '}') {
      const std::size_t index = static_cast<std::size_t>(chinese[i + 1] - '0');
      if (index < named.size()) text += LineInChinese(named[index], patterns);
      i += 2;
      continue;
    }
    text += chinese[i];
  }
  return text;
}

// Every part of a line is shorter than the line: the recursion ends.
std::string LineInChinese(const std::string& line, const std::vector<Pattern>& patterns) {
  for (const Pattern& pattern : patterns) {
    const std::optional<Match> match = MatchIn(line, pattern);
    if (!match) continue;
    return LineInChinese(match->before, patterns) +
           Filled(pattern.chinese, match->named, patterns) + LineInChinese(match->after, patterns);
  }
  return line;
}

}  // namespace

QTranslator* InstallQtTranslations(QCoreApplication& application) {
  auto* translator = new QTranslator(&application);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

std::vector<std::string> EngineTemplates() {
  std::vector<std::string> templates;
  for (const Words& words : kEngineWords) templates.push_back(words.english);
  return templates;
}

std::string InChinese(const std::string& message) {
  static const std::vector<Pattern> patterns = Patterns();
  std::string text;
  std::size_t from = 0;
  for (;;) {
    const std::size_t end = message.find('\n', from);
    text += LineInChinese(message.substr(from, end - from), patterns);
    if (end == std::string::npos) return text;
    text += '\n';
    from = end + 1;
  }
}

}  // namespace landstat::qt
