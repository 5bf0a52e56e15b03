#pragma once

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "ui/host_feedback.h"

namespace landstat::gui {

// The desktop host's window: it opens a survey project and a statistics
// database and launches the engine's dialogs on them, with the engine's
// progress and messages shown in Qt.
class MainWindow : public QMainWindow {
 public:
  MainWindow();
  ~MainWindow() override;

  // Opens a project file: its county code (asked for when it has none) and
  // its code file; the statistics database is the newest .sqlite file beside
  // it that holds the statistics of its county, else none (never one of
  // another project's folder). False, with a message, when it cannot be read.
  bool OpenProject(const std::string& path);
  // Opens a statistics database for the open project: refused, with a
  // message, when it holds no completed statistics of the project's county
  // (without a project: no completed job). Empty: none.
  bool SetDatabase(const std::string& path);

  QAction* ConvertAction() const { return convert_action_; }
  QAction* CountyCodeAction() const { return county_action_; }
  // The operator's dialogs of the 统计 menu: the annual summary, the county
  // batch, the merge and the report data, in that order.
  QAction* OperatorAction(int index) const { return operator_actions_[index]; }
  QAction* BrowseAction() const { return browse_action_; }
  // The range statistics of the open project cut by a chosen polygon file.
  QAction* RangeAction() const { return range_action_; }
  // The report dialogs of modes 0, 1 and 2.
  QAction* ReportAction(int mode) const { return report_actions_[mode]; }
  // The town second-level classification report from a lot layer.
  QAction* TownReportAction() const { return town_report_action_; }
  // The folder of the statistics databases, kept in the host's settings
  // for the next start.
  std::string StatisticsFolder() const;
  // The log of the errors shown, with the statements they carry.
  static std::string MessageLogPath();
  QLabel* StatusText() const { return status_; }
  QListWidget* LayerList() const { return layers_; }
  const std::string& Database() const { return database_; }

 private:
  // Where the file dialogs open: the project's folder, else the database's,
  // else the remembered statistics folder.
  std::string StartFolder() const;
  void ChooseProject();
  void ChooseDatabase();
  void ConvertUnits();
  void SetCountyCode();
  void PrintReports(int mode);
  void RunOperatorDialog(int index);
  void BrowseLayers();
  void RunRangeStatistics();
  bool AskCountyCode();
  void ShowState();
  std::string Connection() const;
  // The years whose statistics `file` holds for the open project's county
  // (without a project: the year of its newest completed job); none when it
  // cannot be read, `error` then saying why (ReadYears).
  std::vector<std::string> HeldYears(const std::string& file, std::string& error) const;
  // The newest .sqlite file beside the project that holds its statistics,
  // or ""; the files beside it that cannot be read are named in a message.
  std::string ProjectDatabase() const;
  // After a job: opens `made` (a file the job kept) when it holds the
  // statistics, and lets go of an open database that no longer does.
  void RefreshDatabase(const std::string& made = "");
  // The year of the open database's statistics, or "" (also on a server).
  std::string DatabaseYear() const;
  // The folder of the statistics files: the open database's, else the project's.
  std::string DatabaseFolder() const;
  // The folder 报表 in it, for the reports (made by the job that writes
  // them).
  std::string ReportFolder() const;
  void RunYearSummary();
  std::string LogPath() const;

  std::unique_ptr<gis::CGisXmlPrj> project_;
  std::unique_ptr<gis::RuralCode> codes_;
  std::string database_;
  QAction* convert_action_;
  QAction* county_action_;
  QAction* browse_action_;
  QAction* range_action_;
  QAction* report_actions_[3];
  QAction* town_report_action_;
  QAction* operator_actions_[4];
  QLabel* status_;
  QListWidget* layers_;  // the project's layers
  qt::DialogProgress progress_;
  qt::MessageBoxNotifier notifier_;
  host::ScopedNotifier scoped_notifier_{notifier_};
  host::Progress* previous_progress_;
};

}  // namespace landstat::gui
