#include "engine/family_lanes.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "engine/run_schema.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/host/held_output.h"
#include "platform/host/progress.h"

namespace landstat {
namespace {

// How many connections build families beside the run's own. The server
// groups a family's statements with workers of its own as well: two more
// connections keep eight cores busy without crowding them.
constexpr std::size_t kHelperConnections = 2;

// One family of the run and the lines it logged.
struct FamilyWork {
  const TableFamily* family = nullptr;
  std::vector<StatRunLog::HeldLine> lines;
};

// The families of `work` built beside the run (those that read no layers)
// in chains: a family joins the chain of every family it reads (merging
// them when there are several), else starts one. Each chain in stage
// order; the chains in the order of their first family.
std::vector<std::vector<std::size_t>> Chains(const std::vector<FamilyWork>& work) {
  std::vector<std::vector<std::size_t>> chains;
  std::map<std::string, std::size_t> chain_of;  // base name -> its chain
  for (std::size_t index = 0; index < work.size(); ++index) {
    const TableFamily& family = *work[index].family;
    if (family.reads_layers) continue;
    std::size_t into = chains.size();
    for (const char* base : family.after) {
      const auto found = chain_of.find(base);
      if (found != chain_of.end()) into = std::min(into, found->second);
    }
    if (into == chains.size()) chains.emplace_back();
    for (const char* base : family.after) {
      const auto found = chain_of.find(base);
      if (found == chain_of.end() || found->second == into) continue;
      const std::size_t from = found->second;
      chains[into].insert(chains[into].end(), chains[from].begin(), chains[from].end());
      chains[from].clear();
      for (auto& [name, chain] : chain_of) {
        if (chain == from) chain = into;
      }
    }
    chains[into].push_back(index);
    chain_of[family.base] = into;
  }
  std::erase_if(chains, [](const std::vector<std::size_t>& chain) { return chain.empty(); });
  for (std::vector<std::size_t>& chain : chains) std::sort(chain.begin(), chain.end());
  std::sort(chains.begin(), chains.end());
  return chains;
}

// A family's create, then its fill when the create succeeded; neither
// stops the run. Raises JobEnded when the connection was lost.
void BuildFamily(CStatContext& context, const TableFamily& family) {
  if (family.progress) host::LindoDlgProgressSetText(family.progress);
  if (family.create(context) > 0) family.fill(context);
  context.EndIfConnectionLost(family.base);
}

// A connection beside the run's, with what its families would have shown.
struct Helper {
  std::unique_ptr<CStatContext> context;
  host::HeldOutput output;
  std::exception_ptr escaped;  // what ended its work (a lost connection too)
};

// What the connections share: the families, their chains, the next chain
// to take, and whether to stop.
struct SharedWork {
  const RunSchema& schema;
  std::vector<FamilyWork>& work;
  const std::vector<std::vector<std::size_t>>& chains;
  std::atomic<std::size_t> next_chain{0};
  std::atomic<bool> stop{false};
};

// A helper's thread: takes chains until none is left or the run stops;
// each family is committed as it ends.
void BuildChains(Helper& helper, SharedWork& shared) {
  const host::ScopedHeldOutput held(helper.output);
  CStatContext& context = *helper.context;
  while (!shared.stop) {
    const std::size_t chain = shared.next_chain++;
    if (chain >= shared.chains.size()) return;
    for (const std::size_t index : shared.chains[chain]) {
      if (shared.stop) return;
      FamilyWork& family = shared.work[index];
      try {
        context.m_pConn.BeginTrans();
        BuildFamily(context, *family.family);
        shared.schema.KeepFromVacuum(context.m_pConn);
        context.m_pConn.CommitTrans();
      } catch (...) {
        helper.escaped = std::current_exception();
        shared.stop = true;
      }
      family.lines = context.TakeHeldLines();
    }
  }
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

// The families one after another on the run's own connection.
void BuildInTurn(CStatContext& run, const std::vector<FamilyWork>& work,
                 const StageObserver& observer) {
  for (const FamilyWork& family : work) {
    BuildFamily(run, *family.family);
    if (observer) observer(family.family->base);
  }
}

}  // namespace

void BuildFamilies(CStatContext& run, const RunSchema* schema,
                   const std::vector<const TableFamily*>& families, const StageObserver& observer) {
  std::vector<FamilyWork> work;
  for (const TableFamily* family : families) work.push_back({family, {}});
  if (!schema) return BuildInTurn(run, work, observer);
  const std::vector<std::vector<std::size_t>> chains = Chains(work);
  const std::vector<std::unique_ptr<Helper>> helpers =
      OpenHelpers(run, *schema, std::min(chains.size(), kHelperConnections));
  SharedWork shared{*schema, work, chains};
  std::vector<std::thread> threads;
  threads.reserve(helpers.size());
  for (const std::unique_ptr<Helper>& helper : helpers) {
    // The chains of a helper without a thread are taken by the others.
    try {
      threads.emplace_back(BuildChains, std::ref(*helper), std::ref(shared));
    } catch (const std::system_error& error) {
      run.LogNotice("汇总", std::string("无法另开线程同时汇总") +
                                (threads.empty() ? ", 依次汇总" : "") + " (" + error.what() + ")");
      break;
    }
  }
  if (threads.empty()) return BuildInTurn(run, work, observer);

  std::exception_ptr escaped;
  run.HoldLines();
  for (FamilyWork& family : work) {
    if (!family.family->reads_layers) continue;
    if (shared.stop) break;
    try {
      BuildFamily(run, *family.family);
      if (observer) observer(family.family->base);
    } catch (...) {
      escaped = std::current_exception();
      shared.stop = true;
    }
    family.lines = run.TakeHeldLines();
  }
  for (std::thread& thread : threads) thread.join();

  // The lines in stage order, then what the helpers would have shown.
  run.StopHolding();
  for (const FamilyWork& family : work) run.WriteHeldLines(family.lines);
  for (const std::unique_ptr<Helper>& helper : helpers) helper->output.PassOn();
  if (escaped) std::rethrow_exception(escaped);
  for (const std::unique_ptr<Helper>& helper : helpers) {
    if (!helper->escaped) continue;
    // A lost connection was logged by the helper: the run ends without
    // logging it again.
    if (helper->context->m_bConnectionLost) run.m_bConnectionLost = true;
    std::rethrow_exception(helper->escaped);
  }
  if (!observer) return;
  for (const FamilyWork& family : work) {
    if (!family.family->reads_layers) observer(family.family->base);
  }
}

}  // namespace landstat
