#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <memory>
#include <string>

#include "operator/merge.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17017 "合并汇总数据": a rural and a town statistics database, a
// data dictionary (the host's code table, or a code file chosen instead),
// the merge option (into the rural, into the town database, or a new file
// in a chosen folder) and "合并(&M)", which runs the merge and says how it
// ended. The dialog stays open for another merge.
class CMergeStatDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17017;

  explicit CMergeStatDlg(gis::RuralCode* codes, QWidget* parent = nullptr);
  ~CMergeStatDlg() override;

  QLineEdit* RuralEdit() const { return rural_edit_; }
  QLineEdit* TownEdit() const { return town_edit_; }
  QLineEdit* DictionaryEdit() const { return dictionary_edit_; }
  QLineEdit* OutputEdit() const { return output_edit_; }
  QRadioButton* OptionRadio(int option) const { return options_[option]; }
  QPushButton* PathButton() const { return path_button_; }
  QPushButton* MergeButton() const { return merge_button_; }

  void OnSelectRuralData();
  void OnSelectTownData();
  void OnSelectDictionary();
  void OnMerge();
  void OnMergeToNew();
  void OnMergeInPlace();
  void OnSelectOutputPath();

  // The file and folder choices; tests put their own in place. Empty: none
  // chosen.
  std::function<std::string(const std::string& title, const std::string& filter)> m_chooseFile;
  std::function<std::string(const std::string& title)> m_chooseFolder;
  MergeResult m_lastResult;

 private:
  void ShowMembers();

  gis::RuralCode* host_codes_;
  std::unique_ptr<gis::RuralCode> own_codes_;  // a dictionary chosen here
  bool ask_ = true;  // the operator has not yet agreed to leave the host's dictionary
  std::string rural_, town_, dictionary_, output_;
  QLineEdit* rural_edit_;
  QLineEdit* town_edit_;
  QLineEdit* dictionary_edit_;
  QLineEdit* output_edit_;
  QRadioButton* options_[3];
  QPushButton* path_button_;
  QPushButton* merge_button_;
};

// Runs dialog 17017 modally on the host's code table; 1 whatever was done.
short MergeStatDlg(gis::RuralCode* codes);

}  // namespace landstat
