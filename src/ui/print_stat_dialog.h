#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "report/print_stat_dlg.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17003 "二次调查数据汇总表格": the operator ticks reports of the
// catalogue and chooses region, output level, area unit and year; 打印
// prints them through the report writers (report::CPrintStatDlg, which this
// dialog owns and fills) and the dialog stays open. The mode, set before
// the dialog runs, decides which rows show: 0 general, 1 ownership dispute
// and reserve (the three filter lists in place of checker and dates), 2
// Inner Mongolia (its own code table and levels, no statistics type).
// Every control carries its resource number as object name.
class CPrintStatDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17003;

  explicit CPrintStatDlg(QWidget* parent = nullptr);

  // What the launcher gives.
  gis::CGisXmlPrj* m_pPrj = nullptr;
  std::string m_strOutPath;       // folder receiving the workbooks
  std::string m_strTemplatePath;  // the template workbook
  std::string m_strCatalogPath;   // the report catalogue
  std::string m_strDbPath;        // folder of the statistics files, year + county + .sqlite
  // The statistics database the host has open: its year is listed, chosen
  // to start with and printed from it; the years of the county's files of
  // m_strDbPath are listed too and printed from their files. Empty: those
  // files alone.
  std::string m_strDbFile;
  gis::RuralCode* m_pCode = nullptr;
  gis::RuralCode* m_pCode2 = nullptr;  // mode 2 only
  int m_nMode = 0;

  // What the dialog finds or the operator chooses.
  std::string m_strCounty;
  std::string m_strRegionCode;
  std::string m_strRegionName;  // edit 17058
  std::string m_strLevel;       // the output level taken at the last print
  bool m_bOracle = false;
  bool m_bView = true;   // 17005 查看
  bool m_bPaged = true;  // 17007 分页
  std::vector<std::string> m_arrHeaderKeys;
  std::map<std::string, std::string> m_mapCodeName;
  std::vector<std::string> m_arrClassCodes;

  // Runs the dialog: OnInitDialog, then the modal loop; IDOK or IDCANCEL.
  int DoModal();

  // Fills the dialog; false when it stopped early (no data source name).
  bool OnInitDialog();
  // Members from the controls (`save`) or controls from the members.
  bool DoDataExchange(bool save);
  void OnCancel() { reject(); }
  void reject() override;
  void OnCheckAll();
  void OnInvertChecks();
  void OnClearChecks();
  void OnChooseRegion();
  // What OnChooseRegion does with the chosen code: name, level list.
  void ApplyRegion(const std::string& code, const std::string& name);
  void OnSelchangeYear();
  void OnSelchangeOwnership();
  void OnSelchangeReserveLevel();
  void OnSelchangeDisputeType();
  void BuildCodeMap();
  void FillUnitCombo();
  std::string GetCodeName(const std::string& code) const;
  void OnPrint();

  // The caption of a mode's dialog (and of the host's menu entry).
  static const char* ModeCaption(int mode);

  // The connection string of a county's statistics file of a year.
  static std::string StatFileConnection(const std::string& folder, const std::string& year,
                                        const std::string& county);

  // The administrative code chooser: gets the code table's administrative
  // entries, sets code and name and returns true on a choice. By default a
  // list of "code name" items; tests put their own.
  using RegionChooser = std::function<bool(const std::vector<gis::CODESTRUCT>& codes,
                                           std::string& code, std::string& name)>;
  void SetRegionChooser(RegionChooser chooser) { choose_region_ = std::move(chooser); }

  // Shows a written workbook when 查看 is ticked; false when no program
  // could show it. By default the desktop's program for the file.
  using Viewer = std::function<bool(const std::string& path)>;
  void SetViewer(Viewer viewer) { viewer_ = std::move(viewer); }

  // The unit a unit text stands for: 平方米 2, 亩 1, 公顷 0, any other 2.
  static int UnitOfChoice(const std::string& text);

  // What the last print handed to the dispatcher, and its result (-1 when
  // no print reached it); the reports it left out are no failures.
  struct PrintRun {
    std::string folder;
    std::string connection;
    int unit = 2;
    int server_names = 0;
    short dispatched = -1;
    std::vector<report::LeftOutReport> not_built;    // by this county's runs
    std::vector<report::LeftOutReport> unavailable;  // in this version
  };
  const PrintRun& LastRun() const { return last_run_; }
  report::CPrintStatDlg& Writers() { return writers_; }

  QWidget* Control(int id) const;
  QComboBox* Combo(int id) const;
  QListWidget* ReportList() const { return report_list_; }

 private:
  void AddControl(QWidget* widget, int id);
  void LoadYears();
  void SelectLevels(const std::vector<std::string>& levels);
  std::vector<std::string> CheckedReports() const;
  void FillSettings(report::ReportSettings& settings) const;
  std::string PrintConnection(const std::string& year, PrintRun& run);
  std::string RunningJob(const std::string& connection, const std::string& year);
  bool SortReports(const std::string& year, const std::vector<std::string>& names,
                   std::vector<std::string>& writable);
  void ReportPrinted();

  report::CPrintStatDlg writers_;
  RegionChooser choose_region_;
  Viewer viewer_;
  PrintRun last_run_;
  std::vector<std::string> file_years_;  // the years m_strDbFile holds
  QListWidget* report_list_;
  QLineEdit* region_edit_;
  QCheckBox* view_box_;
  QCheckBox* paged_box_;
};

// The launchers: the dialog in mode 0, 1 or 2 on the project, the output
// folder, an unused text, the template, the catalogue, the folder of the
// statistics files and the code table (mode 2: and its own code table), and
// the statistics database the host has open, if any (m_strDbFile).
// 1 when the dialog ends with OK, else 0.
short PrintStatDlg(gis::CGisXmlPrj* project, const std::string& output_folder,
                   const std::string& unused, const std::string& template_path,
                   const std::string& catalogue, const std::string& database_folder,
                   gis::RuralCode* codes, const std::string& database_file = "");
short PrintStatDlgSHD(gis::CGisXmlPrj* project, const std::string& output_folder,
                      const std::string& unused, const std::string& template_path,
                      const std::string& catalogue, const std::string& database_folder,
                      gis::RuralCode* codes, const std::string& database_file = "");
short PrintStatDlgMG(gis::CGisXmlPrj* project, const std::string& output_folder,
                     const std::string& unused, const std::string& template_path,
                     const std::string& catalogue, const std::string& database_folder,
                     gis::RuralCode* codes, gis::RuralCode* codes2,
                     const std::string& database_file = "");

}  // namespace landstat
