// The report-data export: the by-location summary tables of one unit and
// year, copied under their bare names into a new file for submission.

#include "operator/report_data.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "engine/run_record.h"
#include "engine/run_workspace.h"
#include "engine/table_names.h"
#include "operator/scratch_file.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/db/sql_quote.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"

namespace landstat {
namespace fs = std::filesystem;

const std::vector<std::string>& ReportTableBases() {
  static const std::vector<std::string> bases = {
      "TDLY_YJFL",   "TDLY_EJFL",   "NCTDLY_YJFL", "NCTDLY_EJFL",   "FRDTDLY_YJFL", "FRDTDLY_EJFL",
      "HDTDLY_YJFL", "HDTDLY_EJFL", "TDLY_QSYJFL", "NCTDLY_QSYJFL", "GDPDMJHZ",     "JBNTQKTJ",
      "NCTDLY_SJFL", "KTZ",         "PEWY_YJFL",   "PEWY_EJFL"};
  return bases;
}

namespace {

short UnitOfCode(const std::string& unit_code) {
  if (unit_code == "PM") return kSquareMetre;
  if (unit_code == "MU") return kMu;
  return kHectare;
}

// The unit code of a unit's name: 平方米 PM, 亩 MU, anything else GQ.
std::string UnitCodeOfText(const std::string& unit) {
  if (unit == "平方米") return "PM";
  if (unit == "亩") return "MU";
  return "GQ";
}

// The report table's columns made from the source's: a double column as
// "double default 0.00", every other as "varchar(60)".
struct ReportColumns {
  std::string definitions;
  std::vector<std::string> names;
  std::vector<bool> doubles;
};

ReportColumns ReportColumnsOf(db::Connection& source, const std::string& source_table) {
  ReportColumns made;
  // A server folds the unquoted names of its tables to lower case; the
  // report file spells them as the statistics do everywhere else.
  const bool folded = source.Kind() != db::DbKind::kEmbedded;
  for (const db::ColumnInfo& column : source.Columns(source_table)) {
    const bool is_double = column.type == db::FieldType::kDouble;
    const std::string name = folded ? text::ToUpperAscii(column.name) : column.name;
    made.definitions += (made.definitions.empty() ? "" : ",") + db::QuoteName(name) +
                        (is_double ? " double default 0.00" : " varchar(60)");
    made.names.push_back(name);
    made.doubles.push_back(is_double);
  }
  return made;
}

// The current row of `rows` as its copy stores it, each value made what
// its column takes.
void ConvertRow(const db::RowSource& rows, const ReportColumns& columns,
                std::vector<db::Value>& values) {
  values.resize(columns.names.size());
  for (std::size_t i = 0; i < columns.names.size(); ++i) {
    const int column = static_cast<int>(i);
    // An empty or null value takes the column's default: 0.00 or null
    // (a number field reads an empty text as 0, a text field a null as
    // empty).
    if (columns.doubles[i]) {
      double number = 0.0;
      rows.NumberUnlessNull(column, number);
      values[i] = db::Value(number);
    } else if (const std::string_view text = rows.Text(column); text.empty()) {
      values[i] = db::Value();
    } else {
      values[i].AssignText(text);
    }
  }
}

// The rows of a source table, read in the order a plain read gives them.
std::unique_ptr<db::RowSource> ScanTable(db::Connection& source, const std::string& table) {
  return source.ScanTable(table);
}

// The rows read and stored one by one.
void CopyRows(db::Connection& source, const std::string& source_table, db::Connection& target,
              const std::string& target_table, const ReportColumns& columns) {
  // The rows are stored on a thread of their own while the next are read.
  db::RowPipe pipe(target, target_table, columns.names);
  const auto rows = ScanTable(source, source_table);
  while (rows->Next()) {
    ConvertRow(*rows, columns, pipe.Row());
    pipe.Add();
  }
  pipe.Close();
}

// A source table read ahead: its columns and its rows as they are stored.
struct TableRead {
  ReportColumns columns;
  std::vector<std::vector<db::Value>> rows;
};

TableRead ReadTable(db::Connection& source, const std::string& table) {
  TableRead read;
  read.columns = ReportColumnsOf(source, table);
  const auto rows = ScanTable(source, table);
  while (rows->Next()) ConvertRow(*rows, read.columns, read.rows.emplace_back());
  return read;
}

// The rows read ahead, stored as they are: made already, they need no
// thread of their own.
void StoreRows(db::Connection& target, const std::string& target_table, const TableRead& read) {
  db::RowWriter writer(target, target_table, read.columns.names);
  for (const std::vector<db::Value>& row : read.rows) writer.Add(row);
  writer.Close();
}

// The name the source file is attached under to the target's connection.
constexpr const char* kAttachedSource = "landstat_source";

// Copies the rows of the attached source's table as SQLite stores them, in
// the transaction of the table's making; keeps them when `as_stored` then
// says their values are those CopyRows would store. False, the rows undone,
// when not, or when the engine refuses the copy (a table of other columns
// than its declared ones, say): the table is then copied row by row.
bool CopiedAsStored(db::Connection& target, const std::string& create,
                    const std::string& source_table, const std::string& target_table,
                    const std::function<bool()>& as_stored) {
  db::Transaction unit(target);
  target.Execute(create);
  try {
    target.Execute("insert into " + db::QuoteName(target_table) + " select * from " +
                   kAttachedSource + "." + db::QuoteName(source_table));
  } catch (const db::DbError&) {
    if (target.Lost()) throw;
    return false;
  }
  if (!as_stored()) return false;
  unit.Commit();
  return true;
}

// The copy of one table; empty when done, else the database's words. A
// table whose rows may hold what CopyRows would store (`as_stored`, when
// given, tells whether they do: see StoredAsCopied) is copied within the
// engine from the attached source, the same rows in the same order; a table
// read ahead (`read`) is stored from its rows.
std::string CopyTable(db::Connection& source, const std::string& source_table,
                      db::Connection& target, const std::string& target_table,
                      const std::function<bool()>& as_stored = {},
                      const TableRead* read = nullptr) {
  try {
    const ReportColumns columns = read ? read->columns : ReportColumnsOf(source, source_table);
    const std::string create =
        "create table " + db::QuoteName(target_table) + "(" + columns.definitions + ")";
    if (as_stored && CopiedAsStored(target, create, source_table, target_table, as_stored)) {
      return "";
    }
    db::Transaction unit(target);
    target.Execute(create);
    if (read) {
      StoreRows(target, target_table, *read);
    } else {
      CopyRows(source, source_table, target, target_table, columns);
    }
    unit.Commit();
    return "";
  } catch (const db::DbError& error) {
    return error.what();
  }
}

// The condition a row of `columns` meets when CopyRows would store one of
// its values otherwise than it is stored: a number field null or holding
// no number; another field empty or holding no text (bar an integer
// field's integers, whose text the engine and CopyRows spell alike). In
// the engine's order numbers come before texts and texts before blobs, and
// the largest of several values is null when one is: the number fields
// are tested a group at a time.
std::string ChangedByCopy(const std::vector<db::ColumnInfo>& columns) {
  constexpr std::size_t kGroup = 100;  // within the engine's bound on arguments
  std::string changed = "0";
  std::vector<std::string> numbers;
  const auto test_numbers = [&] {
    if (numbers.empty()) return;
    std::string largest = numbers.front();
    for (std::size_t i = 1; i < numbers.size(); ++i) largest += "," + numbers[i];
    if (numbers.size() > 1) largest = "max(" + largest + ")";
    changed += " or (" + largest + " < '') is not 1";
    numbers.clear();
  };
  for (const db::ColumnInfo& column : columns) {
    const std::string name = db::QuoteName(column.name);
    if (column.type == db::FieldType::kDouble) {
      numbers.push_back(name);
      if (numbers.size() == kGroup) test_numbers();
      continue;
    }
    const std::string integer =
        column.type == db::FieldType::kInteger ? " or typeof(" + name + ") = 'integer'" : "";
    changed += " or not (" + name + " is null or (" + name + " > '' and " + name + " < x'')" +
               integer + ")";
  }
  test_numbers();
  return changed;
}

// Whether every row of an embedded table holds what CopyRows would store,
// so that copying it as stored makes the same table: a plain table (no
// view, no hidden column) without an index, so that a plain read gives its
// rows in the order they are stored.
bool StoredAsCopied(db::Connection& reader, const std::string& table) {
  const std::vector<db::ColumnInfo> columns = reader.Columns(table);
  const std::vector<db::Value> named = {db::Value(table)};
  const bool plain =
      reader.Scalar(
                "select count(*) from sqlite_master where type = 'table' and name = ? "
                "collate nocase",
                named)
              .AsInteger() == 1 &&
      reader.Scalar(
                "select count(*) from sqlite_master where type = 'index' and tbl_name = ? "
                "collate nocase",
                named)
              .AsInteger() == 0 &&
      reader.Scalar("select count(*) from pragma_table_xinfo(?)", named).AsInteger() ==
          static_cast<long long>(columns.size());
  return plain && reader.Scalar("select not exists (select 1 from " + db::QuoteName(table) +
                                " where " + ChangedByCopy(columns) + ")")
                          .AsInteger() != 0;
}

// The source file attached to the target's connection while this lives,
// when both are embedded files (`embedded`), for copies of whole tables
// within the engine. Attached reads only.
class AttachedSource {
 public:
  AttachedSource(db::Connection& source, db::Connection& target, bool embedded) : target_(target) {
    if (!embedded) return;
    try {
      target.Execute(std::string("ATTACH DATABASE ? AS ") + kAttachedSource,
                     {db::Value(source.FilePath())});
      attached_ = true;
      // Its schema is read now, while the tables are read elsewhere, not
      // by the first copy.
      target.Scalar(std::string("SELECT count(*) FROM ") + kAttachedSource + ".sqlite_master");
      readable_ = true;
    } catch (const db::DbError&) {
      // A file the engine cannot attach (in another text encoding, say) is
      // copied row by row.
    }
  }
  ~AttachedSource() {
    try {
      if (attached_) target_.Execute(std::string("DETACH DATABASE ") + kAttachedSource);
    } catch (const db::DbError&) {
      // Detached when the connection closes.
    }
  }
  AttachedSource(const AttachedSource&) = delete;
  AttachedSource& operator=(const AttachedSource&) = delete;
  bool Attached() const { return readable_; }

 private:
  db::Connection& target_;
  bool attached_ = false, readable_ = false;
};

// StoredAsCopied of each table of the embedded file named (an empty name is
// none), the tables read side by side on a thread of their own while the
// tables are copied. A read that fails answers no: the copy then meets the
// failure itself.
class StoredAsCopiedReads {
 public:
  StoredAsCopiedReads(const std::string& file, std::vector<std::string> tables, bool wanted)
      : tables_(std::move(tables)), promises_(tables_.size()) {
    for (std::promise<bool>& promise : promises_) answers_.push_back(promise.get_future());
    std::vector<Read> reads = Reads(wanted);
    // On a connection of their own, not the one the copies read.
    const auto read_all = [this, file, reads] { ReadAll(file, reads); };
    try {
      if (!reads.empty()) {
        thread_ = std::thread(read_all);
        return;
      }
    } catch (const std::system_error&) {
      // No thread to spare: the reads go first.
    }
    read_all();
  }
  ~StoredAsCopiedReads() {
    if (thread_.joinable()) thread_.join();
  }
  StoredAsCopiedReads(const StoredAsCopiedReads&) = delete;
  StoredAsCopiedReads& operator=(const StoredAsCopiedReads&) = delete;

  // Whether table `i` is stored as copied, once it is read.
  bool Await(std::size_t i) { return answers_[i].get(); }

 private:
  using Read = std::function<void(db::Connection&)>;

  // A read opens the file and reads its schema first: the tables are dealt
  // out to a few reads, each reading its own in order. The copies, one
  // table at a time, take about as long as reading two tables: four reads
  // keep ahead of them, and each read more would read the schema again.
  std::vector<Read> Reads(bool wanted) {
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < tables_.size(); ++i) {
      if (wanted && !tables_[i].empty()) named.push_back(i);
    }
    const std::size_t count = std::min({named.size(), db::Workers(), std::size_t{4}});
    std::vector<Read> reads;
    for (std::size_t read = 0; read < count; ++read) {
      reads.push_back([this, named, read, count](db::Connection& reader) {
        for (std::size_t at = read; at < named.size(); at += count) {
          Answer(named[at], StoredAsCopied(reader, tables_[named[at]]));
        }
      });
    }
    return reads;
  }

  void ReadAll(const std::string& file, const std::vector<Read>& reads) {
    try {
      if (!reads.empty()) {
        db::Connection database(file);
        db::ReadApart(database, reads);
      }
    } catch (...) {
      // The tables not yet answered are copied row by row.
    }
    for (std::size_t i = 0; i < promises_.size(); ++i) Answer(i, false);
  }

  // The first answer of each table counts.
  void Answer(std::size_t i, bool as_stored) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answered_.insert(i).second) promises_[i].set_value(as_stored);
  }

  const std::vector<std::string> tables_;
  std::vector<std::promise<bool>> promises_;
  std::vector<std::future<bool>> answers_;
  std::mutex mutex_;
  std::set<std::size_t> answered_;
  std::thread thread_;
};

// The tables of a server read ahead of their copies, each on a connection
// of its own, a few at a time and no further ahead of the copies than
// that: the server sends and the client converts the next tables' rows
// while one table is stored. The connections open at once, while the
// export is checked, and read once Read names the tables. A table that
// cannot be read ahead is read by its copy as before.
class ServerReadAhead {
 public:
  ServerReadAhead(const std::string& conninfo, bool wanted) {
    if (!wanted) return;
    for (std::size_t i = 0; i < kAhead; ++i) {
      // Counted before it starts, as it may end at once; the reads started
      // before it may be ending too.
      {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ += 1;
      }
      try {
        threads_.emplace_back([this, conninfo] { ReadTables(conninfo); });
      } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ -= 1;
        break;  // the process's limit: fewer reads ahead
      }
    }
  }
  ~ServerReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  ServerReadAhead(const ServerReadAhead&) = delete;
  ServerReadAhead& operator=(const ServerReadAhead&) = delete;

  // The tables to read (an empty name is none), in the order they are
  // copied. Called once.
  void Read(std::vector<std::string> tables) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tables_ = std::move(tables);
      reads_.resize(tables_.size());
      ended_.assign(tables_.size(), 0);
      named_ = true;
    }
    changed_.notify_all();
  }
  // Table `i` as read ahead, once it is; null when it was not.
  const TableRead* Await(std::size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ended_[i] != 0 || running_ == 0; });
    return reads_[i].get();
  }
  // Table `i` is copied: its rows go, and the reads may go further.
  void Done(std::size_t i) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reads_[i].reset();
      copied_ = i + 1;
    }
    changed_.notify_all();
  }

 private:
  static constexpr std::size_t kAhead = 4;

  void ReadTables(const std::string& conninfo) {
    try {
      db::Connection source(conninfo);
      for (std::size_t i = Next(); i < tables_.size(); i = Next()) {
        std::unique_ptr<TableRead> read;
        try {
          read = std::make_unique<TableRead>(ReadTable(source, tables_[i]));
        } catch (...) {
          // Its copy reads it and meets what went wrong itself.
        }
        End(i, std::move(read));
      }
    } catch (...) {
      // No connection of its own: the other reads or the copies do.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    changed_.notify_all();
  }

  // The next table to read, once the tables are named and the copies are
  // near enough; past the last when the reads are to stop.
  std::size_t Next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return named_ || stop_; });
    for (;;) {
      while (next_ < tables_.size() && tables_[next_].empty()) ++next_;
      if (stop_ || next_ >= tables_.size()) return tables_.size();
      if (next_ < copied_ + kAhead) return next_++;
      changed_.wait(lock);
    }
  }

  void End(std::size_t i, std::unique_ptr<TableRead> read) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reads_[i] = std::move(read);
      ended_[i] = 1;
    }
    changed_.notify_all();
  }

  std::vector<std::string> tables_;
  std::vector<std::unique_ptr<TableRead>> reads_;
  std::vector<char> ended_;
  std::size_t next_ = 0, copied_ = 0, running_ = 0;
  bool named_ = false, stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
};

// Whether the tables of a source of this kind are read ahead: a server's,
// when there is a processor to spare.
bool ReadsAhead(db::DbKind kind) {
  return kind == db::DbKind::kServer && db::Workers() >= 2;
}

// CopyReportTables, the tables of a server read by `ahead`.
short CopyTables(db::Connection& source, db::Connection& target, const TableNames& names,
                 const std::string& unit_code, ServerReadAhead& ahead,
                 std::vector<std::string>* copied, std::vector<std::string>* failed) {
  const std::vector<std::string>& bases = ReportTableBases();
  std::vector<std::string> sources;
  for (const std::string& base : bases) {
    sources.push_back(names.Summary('Z', UnitOfCode(unit_code), base));
    if (!source.TableExists(sources.back())) sources.back().clear();
  }
  const bool embedded = source.Kind() == db::DbKind::kEmbedded && !source.FilePath().empty() &&
                        target.Kind() == db::DbKind::kEmbedded;
  StoredAsCopiedReads as_stored(source.FilePath(), sources, embedded);
  const AttachedSource attached(source, target, embedded);
  ahead.Read(sources);
  for (std::size_t i = 0; i < bases.size(); ahead.Done(i++)) {
    const std::string& base = bases[i];
    host::StepStage(static_cast<long>(i), static_cast<long>(bases.size()));
    // After the operator's cancel no table is copied.
    if (host::JobCancelled()) return 0;
    const std::string& source_table = sources[i];
    if (source_table.empty()) continue;
    // Copied as stored while its values are read, and kept if they are so.
    const std::function<bool()> stored = [&as_stored, i] { return as_stored.Await(i); };
    const std::string error = CopyTable(source, source_table, target, base,
                                        attached.Attached() ? stored : nullptr, ahead.Await(i));
    if (error.empty()) {
      if (copied) copied->push_back(base);
    } else if (failed) {
      failed->push_back(source_table + " (" + error + ")");
    }
    // A full or failing disk, a lost server: no table after it is copied.
    if (source.Lost() || target.Lost()) return 0;
  }
  return 1;
}

// Why the source holds none of the report tables of `unit_code`: the units
// it holds them in, if any. Empty when it holds some.
std::string UnitProblem(db::Connection& source, const TableNames& names,
                        const std::string& unit_code) {
  const auto holds = [&](short unit) {
    return std::any_of(ReportTableBases().begin(), ReportTableBases().end(),
                       [&](const std::string& base) {
                         return source.TableExists(names.Summary('Z', unit, base));
                       });
  };
  const short unit = UnitOfCode(unit_code);
  if (holds(unit)) return "";
  std::string held;
  for (short other : {kSquareMetre, kHectare, kMu}) {
    if (other != unit && holds(other)) {
      held += std::string(held.empty() ? "" : ", ") + UnitText(other);
    }
  }
  return "the statistics of " + names.Year() + " " + names.County() + " hold no report tables in " +
         UnitText(unit) + (held.empty() ? std::string() : ", only in " + held);
}

std::string RequestProblem(const ReportDataRequest& request) {
  if (std::string key = host::SurveyKeyProblem(request.year, request.county); !key.empty()) {
    return key;
  }
  std::error_code unusable;
  if (request.output_folder.empty() || !fs::is_directory(request.output_folder, unusable)) {
    return "the output folder " + request.output_folder + " is not a folder";
  }
  return "";
}

// Why an existing file at the target must not be replaced: it holds a
// table that is no report table (a statistics database of the same name,
// say), or is no database. Empty when there is no file or an earlier
// report-data file.
std::string TargetProblem(const std::string& target) {
  std::error_code unusable;
  if (!fs::exists(target, unusable)) return "";
  try {
    db::Connection earlier(target);
    const std::vector<std::string>& bases = ReportTableBases();
    for (const std::string& table : earlier.ListTables()) {
      if (std::find(bases.begin(), bases.end(), table) == bases.end()) {
        return target + " holds the table " + table +
               ", not report data only: choose another folder";
      }
    }
    return "";
  } catch (const db::DbError& error) {
    return target + " is not a report-data file (" + error.what() + "): choose another folder";
  }
}

ReportDataResult Failed(ReportDataResult result, const std::string& why) {
  result.report.outcome = RunOutcome::kFailed;
  result.report.failures += 1;
  result.report.messages.push_back(why);
  return result;
}

}  // namespace

std::string ReportDataFile(const std::string& folder, const std::string& statistics_folder,
                           const std::string& year, const std::string& county) {
  // Compared as the folders they resolve to, however they are spelt
  // (relative, through a link, with "..").
  const auto resolved = [](const std::string& path) {
    std::error_code error;
    fs::path full = fs::weakly_canonical(fs::absolute(path), error);
    if (error) full = fs::absolute(path);
    return (full / "").lexically_normal();
  };
  const bool same = !statistics_folder.empty() && resolved(folder) == resolved(statistics_folder);
  return (fs::path(folder) / (year + county + (same ? "1" : "") + ".sqlite")).string();
}

short CopyReportTable(db::Connection& source, const std::string& source_table,
                      db::Connection& target, const std::string& target_table) {
  return CopyTable(source, source_table, target, target_table).empty() ? 1 : 0;
}

short CopyReportTables(db::Connection& source, db::Connection& target, const std::string& year,
                       const std::string& county, const std::string& unit_code, bool server,
                       std::vector<std::string>* copied, std::vector<std::string>* failed) {
  ServerReadAhead ahead(source.ConnectionString(), ReadsAhead(source.Kind()));
  return CopyTables(source, target, TableNames(server ? 1 : 0, year, county), unit_code, ahead,
                    copied, failed);
}

ReportDataResult GenerateReportData(const ReportDataRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  ReportDataResult result;
  if (const std::string problem = RequestProblem(request); !problem.empty()) {
    return Failed(std::move(result), problem);
  }
  host::JobStages stages("正在生成数据...", {{"tables", 1}});
  try {
    // The connections that read a server's tables ahead open while the
    // export is checked.
    ServerReadAhead ahead(request.source,
                          ReadsAhead(db::ParseConnectionString(request.source).kind));
    db::Connection source(request.source);
    const bool server = source.Kind() != db::DbKind::kEmbedded;
    // While a job works on the year its tables are being replaced.
    if (const std::string job = RunWorkspace::RunningJob(source, request.year, request.county);
        !job.empty()) {
      return Failed(std::move(result), "a job is running on " + job + "; export when it has ended");
    }
    if (const std::string problem = ReadableStatisticsProblem(source, request.year, request.county);
        !problem.empty()) {
      return Failed(std::move(result), problem);
    }
    const std::string unit_code = UnitCodeOfText(request.unit);
    if (const std::string problem = UnitProblem(
            source, TableNames(server ? 1 : 0, request.year, request.county), unit_code);
        !problem.empty()) {
      return Failed(std::move(result), problem);
    }
    result.target = ReportDataFile(request.output_folder, server ? "" : request.statistics_folder,
                                   request.year, request.county);
    // Only an earlier report-data file is replaced, never the statistics
    // database itself or another file that happens to have its name.
    if (const std::string problem = TargetProblem(result.target); !problem.empty()) {
      return Failed(std::move(result), problem);
    }
    ScratchBeside scratch(result.target, "report");
    if (!scratch.Made()) return Failed(std::move(result), scratch.Error());
    std::vector<std::string> failed;
    {
      db::Connection target(scratch.Path());
      // The scratch file is synced once when it is published; the commits
      // of its tables need not each wait for the disk.
      RunWorkspace::SpeedUpWorkingCopy(target);
      CopyTables(source, target, TableNames(server ? 1 : 0, request.year, request.county),
                 unit_code, ahead, &result.copied, &failed);
      // The file is not written then, and the earlier one stays.
      if (const std::optional<db::DbError> lost = target.Lost() ? target.Lost() : source.Lost()) {
        return Failed(std::move(result), lost->what());
      }
      if (host::JobCancelled()) return Failed(std::move(result), "作业已取消");
      target.Close();
    }
    std::string error;
    if (!scratch.Publish(error)) return Failed(std::move(result), error);
    result.report.outcome =
        failed.empty() ? RunOutcome::kCompleted : RunOutcome::kCompletedWithFailures;
    result.report.failures = static_cast<long>(failed.size());
    for (const std::string& table : failed) {
      result.report.messages.push_back("table " + table + " was not copied");
    }
    result.report.tables = result.copied;
  } catch (const db::DbError& error) {
    return Failed(std::move(result), error.what());
  }
  result.report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace landstat
