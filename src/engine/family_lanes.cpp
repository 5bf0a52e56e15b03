#include "engine/family_lanes.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "engine/run_schema.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/host/held_output.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// How many connections build beside the run's own. Most of the work after
// the base table is the server writing tables (and their log): five more
// connections keep its disk busy while others wait on their sorts and
// groupings. More gain nothing on eight cores.
constexpr std::size_t kHelperConnections = 5;

// A piece of the run's work beside its base table: a unit copy or a family,
// the lines it logged and how far it got.
struct Work {
  std::string name;                          // the stage the observer hears of; empty: none
  std::function<bool(CStatContext&)> build;  // false: the run cannot go on
  bool on_run = false;                       // reads layers: the run's thread
  std::vector<std::size_t> needs;            // earlier works to end first
  bool needed = false;                       // by a work on another connection
  std::vector<StatRunLog::HeldLine> lines;
  enum State { kWaiting, kTaken, kEnded } state = kWaiting;
  // The sums of a unit copy it made for every connection, by key (see
  // CStatContext::ShareUnitCopySums); read by others once committed.
  std::shared_ptr<std::map<std::string, std::string>> summed;
};

// A family's create, then its fill when the create succeeded; neither
// stops the run. A family left out (a layer lacks a field it needs, which
// was logged) is not built. Raises JobEnded when the connection was lost.
bool BuildFamily(CStatContext& context, const TableFamily& family) {
  if (context.m_setLeftOutFamilies.count(family.base)) return true;
  if (family.progress) host::LindoDlgProgressSetText(family.progress);
  if (family.create(context) > 0) family.fill(context);
  context.EndIfStopped(family.base);
  return true;
}

// The unit copies of the base table, the sums of each copy that the
// class summaries read, then the families, with what each waits for: the
// copies and their sums when it reads them, and the families it reads
// (TableFamily::after).
std::vector<Work> WorksOf(CStatContext& run, const std::vector<const TableFamily*>& families) {
  std::vector<Work> works;
  std::vector<std::size_t> copies;  // the copies and their sums
  const std::vector<std::pair<short, std::string>> unit_copies = run.UnitCopies();
  for (const auto& [unit, name] : unit_copies) {
    Work copy;
    copy.build = [unit, name](CStatContext& context) {
      const bool filled = context.MakeBalancedUnitCopy(unit, name) > 0;
      context.EndIfStopped("unit copies");
      host::yDebugTime("unit copy " + name);
      return filled;
    };
    copies.push_back(works.size());
    works.push_back(std::move(copy));
  }
  for (std::size_t i = 0; i < unit_copies.size(); ++i) {
    // A copy's sums that cannot be made are noticed; each connection then
    // sums that copy itself, as a run on one connection does.
    Work sums;
    sums.needs = {copies[i]};
    sums.summed = std::make_shared<std::map<std::string, std::string>>();
    sums.build = [unit = unit_copies[i].first, made = sums.summed](CStatContext& context) {
      *made = context.ShareUnitCopySums(unit);
      context.EndIfStopped("unit copies");
      return true;
    };
    copies.push_back(works.size());
    works.push_back(std::move(sums));
  }
  std::map<std::string, std::size_t> by_base;
  for (const TableFamily* family : families) {
    Work work;
    work.name = family->base;
    work.build = [family](CStatContext& context) { return BuildFamily(context, *family); };
    work.on_run = family->reads_layers;
    if (family->reads_unit_copies) work.needs = copies;
    for (const char* base : family->after) {
      const auto found = by_base.find(base);
      if (found != by_base.end()) work.needs.push_back(found->second);
    }
    by_base[family->base] = works.size();
    works.push_back(std::move(work));
  }
  for (const Work& work : works) {
    for (const std::size_t need : work.needs) {
      if (works[need].on_run != work.on_run) works[need].needed = true;
    }
  }
  return works;
}

// A connection beside the run's, with what its works would have shown.
struct Helper {
  std::unique_ptr<CStatContext> context;
  host::HeldOutput output;
  std::exception_ptr escaped;  // what ended its work (a lost connection too)
};

// What the connections share: the works, which have ended, the farmland
// flags and the families left out of the run's context as its last work
// left them, and whether to stop. A work is taken once every work it needs has ended (and been
// committed); a work that fails or lets an error through stops them all.
struct SharedWork {
  SharedWork(const RunSchema& run_schema, std::vector<Work>& all)
      : schema(run_schema), works(all) {}

  const RunSchema& schema;
  std::vector<Work>& works;
  std::mutex mutex;
  std::condition_variable changed;
  bool stop = false;
  bool failed = false;  // a work the run cannot do without failed
  short jbnt_base_data = 0;
  short jbnt_gd_base_data = 0;
  std::set<std::string> left_out;             // the run's m_setLeftOutFamilies
  std::map<std::string, std::string> summed;  // committed sums of the copies

  bool Ready(const Work& work) const {
    return std::all_of(work.needs.begin(), work.needs.end(),
                       [&](std::size_t need) { return works[need].state == Work::kEnded; });
  }
  long Ended() const {
    return static_cast<long>(std::count_if(
        works.begin(), works.end(), [](const Work& work) { return work.state == Work::kEnded; }));
  }
  // Marks `work` ended (failed: the run stops), and wakes the connections.
  void End(Work& work, bool built) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      work.state = Work::kEnded;
      if (!built) failed = stop = true;
      if (work.summed) summed.insert(work.summed->begin(), work.summed->end());
    }
    changed.notify_all();
  }
  void Stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
  }
};

// Shows on the run's own thread how many works have ended, as steps of
// the stage under way: the host's window keeps drawing, and its cancel is
// heard, while other connections build. Called with `lock` held.
void ShowEnded(SharedWork& shared, std::unique_lock<std::mutex>& lock) {
  const long ended = shared.Ended();
  lock.unlock();
  host::StepStage(ended, static_cast<long>(shared.works.size()));
  lock.lock();
}

// Waits for a work to end; on the run's own thread (`shows`) no longer than
// a tenth of a second, so that it shows progress again.
void WaitForChange(SharedWork& shared, std::unique_lock<std::mutex>& lock, bool shows) {
  if (shows) {
    shared.changed.wait_for(lock, std::chrono::milliseconds(100));
  } else {
    shared.changed.wait(lock);
  }
}

// The next work of the run's own connection (`on_run`) or of the others:
// the first in the run's order whose sources have ended, waiting while
// those left wait for others; nullptr when none is left or the run stops.
// A work that waits for another connection's works is overtaken (the
// ownership scripts, for the unit copies: no work of the run's connection
// reads what they make). The other connections' works get the run's
// farmland flags and families left out in `context`. The run's own thread
// (`shows`), while it waits, shows how many works have ended (ShowEnded).
Work* TakeWork(SharedWork& shared, bool on_run, bool shows, CStatContext& context) {
  std::unique_lock<std::mutex> lock(shared.mutex);
  for (;;) {
    if (shows) ShowEnded(shared, lock);
    if (shared.stop) return nullptr;
    bool left = false;
    for (Work& work : shared.works) {
      if (work.on_run != on_run || work.state != Work::kWaiting) continue;
      left = true;
      if (!shared.Ready(work)) continue;
      work.state = Work::kTaken;
      context.AdoptSummedTables(shared.summed);
      if (!on_run) {
        context.m_nJbntBaseData = shared.jbnt_base_data;
        context.m_nJbntGdBaseData = shared.jbnt_gd_base_data;
        context.m_setLeftOutFamilies = shared.left_out;
      }
      return &work;
    }
    if (!left) return nullptr;
    WaitForChange(shared, lock, shows);
  }
}

// Waits until every work taken has ended, the run's own thread showing how
// many have, before the helpers' threads are joined.
void WaitForTakenWorks(SharedWork& shared) {
  std::unique_lock<std::mutex> lock(shared.mutex);
  for (;;) {
    ShowEnded(shared, lock);
    if (std::none_of(shared.works.begin(), shared.works.end(),
                     [](const Work& work) { return work.state == Work::kTaken; })) {
      return;
    }
    WaitForChange(shared, lock, true);
  }
}

// Takes works until none is left or the run stops, each begun by `begin`
// and committed by `commit` as it ends; gives what escaped.
std::exception_ptr BuildPooled(CStatContext& context, SharedWork& shared, bool shows,
                               const std::function<void()>& begin,
                               const std::function<void()>& commit) {
  std::exception_ptr escaped;
  while (Work* work = TakeWork(shared, false, shows, context)) {
    bool built = false;
    try {
      begin();
      built = work->build(context);
      commit();
    } catch (...) {
      escaped = std::current_exception();
      shared.Stop();
    }
    work->lines = context.TakeHeldLines();
    if (!work->name.empty()) host::yDebugTime(work->name);
    shared.End(*work, built || escaped);
  }
  return escaped;
}

// A helper's thread: works in transactions of its own.
void BuildWorks(Helper& helper, SharedWork& shared) {
  const host::ScopedHeldOutput held(helper.output);
  db::Connection& conn = helper.context->m_pConn;
  helper.escaped = BuildPooled(
      *helper.context, shared, false, [&] { conn.BeginTrans(); },
      [&] {
        shared.schema.KeepFromVacuum(conn);
        conn.CommitTrans();
      });
}

// The works of the run's own connection, each committed when a work of
// another connection waits for it; then the others left, with the helpers.
std::exception_ptr BuildRunWorks(CStatContext& run, RunSchema& schema, SharedWork& shared,
                                 const StageObserver& observer) {
  while (Work* work = TakeWork(shared, true, true, run)) {
    bool built = false;
    try {
      built = work->build(run);
      if (work->needed) schema.CommitSoFar();
      if (observer && !work->name.empty()) observer(work->name);
    } catch (...) {
      // Ended as failed, which stops the others.
      work->lines = run.TakeHeldLines();
      shared.End(*work, false);
      return std::current_exception();
    }
    work->lines = run.TakeHeldLines();
    if (!work->name.empty()) host::yDebugTime(work->name);
    {
      const std::lock_guard<std::mutex> lock(shared.mutex);
      shared.jbnt_base_data = run.m_nJbntBaseData;
      shared.jbnt_gd_base_data = run.m_nJbntGdBaseData;
      shared.left_out = run.m_setLeftOutFamilies;
    }
    shared.End(*work, built);
  }
  // Then it helps with the others, in its transaction.
  return BuildPooled(
      run, shared, true, [] {}, [&] { schema.CommitSoFar(); });
}

// Up to `count` connections beside the run's, searching its schema; fewer
// (with a notice) when the server refuses more.
std::vector<std::unique_ptr<Helper>> OpenHelpers(CStatContext& run, const RunSchema& schema,
                                                 std::size_t count) {
  std::vector<std::unique_ptr<Helper>> helpers;
  while (helpers.size() < count) {
    auto helper = std::make_unique<Helper>();
    try {
      helper->context = run.NewHelper();
      schema.Enter(helper->context->m_pConn);
    } catch (const db::DbError& error) {
      run.LogNotice("数据库", std::string("无法另开连接同时汇总") +
                                  (helpers.empty() ? ", 依次汇总" : "") + " (" + error.what() +
                                  ")");
      break;
    }
    helpers.push_back(std::move(helper));
  }
  return helpers;
}

// The place after the last of `families` that reads the base table's
// remarked rows; 0 when none does.
std::size_t AfterLastRemarkedReader(const std::vector<const TableFamily*>& families) {
  for (std::size_t i = families.size(); i > 0; --i) {
    if (families[i - 1]->reads_remarked_rows) return i;
  }
  return 0;
}

// The unit copies (when `copies`) and the families one after another on the
// run's own connection; false when the copies failed. The copy of the
// remarked rows that the first family reading them makes serves the others
// and is dropped after the last.
bool BuildInTurn(CStatContext& run, bool copies, const std::vector<const TableFamily*>& families,
                 const StageObserver& observer) {
  if (copies) {
    // The empty copies were committed with the base table: made anew in
    // this transaction, the server fills them straight by CREATE TABLE AS.
    if (run.CreateUnitStatTables() <= 0 || run.FillUnitStatTables() <= 0) return false;
    run.EndIfStopped("unit copies");
    if (observer) observer("unit copies");
  }
  const std::size_t remarked_end = AfterLastRemarkedReader(families);
  // A family that ends the run by an error leaves the copy to go with the
  // connection: it is only forgotten.
  struct Forget {
    CStatContext& run;
    ~Forget() {
      run.m_bKeepRemarkedRows = false;
      run.m_strRemarkedRows.clear();
    }
  } forget{run};
  if (remarked_end > 0) run.KeepRemarkedRows();
  for (std::size_t i = 0; i < families.size(); ++i) {
    host::StepStage(static_cast<long>(i), static_cast<long>(families.size()));
    BuildFamily(run, *families[i]);
    if (i + 1 == remarked_end) run.ReleaseRemarkedRows();
    host::yDebugTime(families[i]->base);
    if (observer) observer(families[i]->base);
  }
  return true;
}

// The copies' sums are the run's own scratch: dropped before it publishes,
// those left unfilled too.
bool DropSharedSums(CStatContext& run) {
  run.ForgetSummarySources();
  try {
    for (const std::string& table : run.SharedCopySumTables()) {
      run.m_pConn.Execute("DROP TABLE IF EXISTS " + table);
    }
  } catch (const db::DbError& error) {
    run.LogFailure("汇总", "汇总用的临时表未能删除", error);
    return false;
  }
  return true;
}

}  // namespace

bool BuildFamilies(CStatContext& run, RunSchema* schema,
                   const std::vector<const TableFamily*>& families, const StageObserver& observer) {
  if (!schema) return BuildInTurn(run, false, families, observer);
  std::vector<Work> works = WorksOf(run, families);
  const std::vector<std::unique_ptr<Helper>> helpers =
      OpenHelpers(run, *schema, kHelperConnections);
  SharedWork shared(*schema, works);
  shared.jbnt_base_data = run.m_nJbntBaseData;
  shared.jbnt_gd_base_data = run.m_nJbntGdBaseData;
  shared.left_out = run.m_setLeftOutFamilies;
  std::vector<std::thread> threads;
  threads.reserve(helpers.size());
  for (const std::unique_ptr<Helper>& helper : helpers) {
    // The works of a helper without a thread are taken by the others.
    try {
      threads.emplace_back(BuildWorks, std::ref(*helper), std::ref(shared));
    } catch (const std::system_error& error) {
      run.LogNotice("汇总", std::string("无法另开线程同时汇总") +
                                (threads.empty() ? ", 依次汇总" : "") + " (" + error.what() + ")");
      break;
    }
  }
  if (threads.empty()) return BuildInTurn(run, true, families, observer);

  run.HoldLines();
  const std::exception_ptr escaped = BuildRunWorks(run, *schema, shared, observer);
  WaitForTakenWorks(shared);
  for (std::thread& thread : threads) thread.join();

  // The lines in the run's order, then what the helpers would have shown.
  run.StopHolding();
  for (const Work& work : works) run.WriteHeldLines(work.lines);
  for (const std::unique_ptr<Helper>& helper : helpers) helper->output.PassOn();
  if (escaped) std::rethrow_exception(escaped);
  for (const std::unique_ptr<Helper>& helper : helpers) {
    if (!helper->escaped) continue;
    // A lost connection was logged by the helper: the run ends without
    // logging it again.
    if (helper->context->m_bJobStopped) run.m_bJobStopped = true;
    std::rethrow_exception(helper->escaped);
  }
  if (shared.failed || !DropSharedSums(run)) return false;
  if (!observer) return true;
  if (!run.UnitCopies().empty()) observer("unit copies");
  for (const Work& work : works) {
    if (!work.on_run && !work.name.empty()) observer(work.name);
  }
  return true;
}

std::size_t ServerConnectionsOfRun() {
  return 2 + std::max<std::size_t>(1, kHelperConnections);
}

}  // namespace landstat
