#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17030 "数据汇总": the districts of the county catalogue as a tree
// with check boxes, the year (this year to start with), and the target (the
// network, offered only where a server is configured, or one file per
// county in a chosen folder). OK ("汇总(&S)") keeps the ticked codes, in tree
// order, the year and the folder; 汇总到本地 wants a folder chosen.
class CStatCountyDataDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17030;

  explicit CStatCountyDataDlg(const std::string& catalogue, QWidget* parent = nullptr);

  QTreeWidget* Tree() const { return tree_; }
  QComboBox* YearBox() const { return year_box_; }
  QRadioButton* NetworkRadio() const { return network_radio_; }
  QRadioButton* LocalRadio() const { return local_radio_; }
  QPushButton* PathButton() const { return path_button_; }
  QPushButton* OkButton() const { return ok_button_; }

  void OnSelectAll();
  void OnClearAll();
  void OnSelectChildren();
  void OnSelectPath();
  void OnOK();

  // The folder choice; tests put their own in place.
  std::function<std::string()> m_chooseFolder;

  std::vector<std::string> m_arrCodes;
  std::string m_strYear;
  std::string m_strFolder;

 private:
  void FillTree(const std::string& catalogue);
  void SetChecked(QTreeWidgetItem* item, bool checked, bool descendants);

  std::map<QTreeWidgetItem*, std::string> codes_;
  QTreeWidget* tree_;
  QComboBox* year_box_;
  QRadioButton* network_radio_;
  QRadioButton* local_radio_;
  QPushButton* path_button_;
  QPushButton* ok_button_;
  bool propagating_ = false;
};

// Runs dialog 17030 on the county catalogue of the configuration root,
// starting from `start_year` when given (the year the host has open), and,
// when it ends with OK, the batch, with its message ("没有找到数据!",
// "汇总失败!", "汇总完成!" and the failed counties). 1 when the batch ran, 0
// when the dialog was cancelled.
short StatCountyData(const std::string& start_year = "");

}  // namespace landstat
