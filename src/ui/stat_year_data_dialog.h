#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "operator/annual_summary.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17000 "年度数据汇总": the years of the county already summarised,
// a year to summarise (Enter adds a typed year to the box), and the runs of
// the annual summary on "汇总(&S)"; "汇总日志(&L)" opens the year's log.
// The year box starts from the newest year summarised, else this year; the
// host that has a database open shows its year instead (qt::ShowYear).
class CStatYearDataDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17000;

  CStatYearDataDlg(gis::CGisXmlPrj* project, std::string folder, gis::RuralCode* codes,
                   gis::RuralCode* second_codes, QWidget* parent = nullptr);

  QTreeWidget* YearList() const { return year_list_; }
  QComboBox* YearBox() const { return year_box_; }
  QCheckBox* LocalCheck() const { return local_check_; }
  QCheckBox* IncrementalCheck() const { return incremental_check_; }
  QPushButton* SummaryButton() const { return summary_button_; }
  QPushButton* LogButton() const { return log_button_; }

  void OnSummary();
  void OnViewLog();
  // Enter in the year box: a four-digit year not in the box is added and
  // selected (true: the key is taken); anything else not a year is refused.
  bool OnEnterYear();

  // The runs and the log viewer; tests put their own in place.
  AnnualRuns m_runs = DefaultAnnualRuns();
  std::function<bool(const std::string& path)> m_viewer;
  // What the last summary did.
  AnnualSummaryResult m_lastResult;
  // The file of the last summary that kept one, for the host to open;
  // empty when none did (or the summaries went to a server).
  std::string m_strSummarisedDb;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Lists the years summarised; the newest of them.
  std::string ListYears();
  bool ServerConnection(std::string& connection, short& kind);

  gis::CGisXmlPrj* project_;
  std::string folder_;
  gis::RuralCode* codes_;
  gis::RuralCode* second_codes_;
  QTreeWidget* year_list_;
  QComboBox* year_box_;
  QCheckBox* local_check_;
  QCheckBox* incremental_check_;
  QPushButton* summary_button_;
  QPushButton* log_button_;
  QPushButton* quit_button_;
};

// Runs dialog 17000 modally; 1 when it ended with OK, else 0.
short StatYearDataDlg(gis::CGisXmlPrj* project, const std::string& folder, gis::RuralCode* codes,
                      gis::RuralCode* second_codes);

}  // namespace landstat
