#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <string>

#include "lots/town_second_level.h"
#include "platform/gis/layers.h"
#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17024 "城镇宗地二级分类面积表": the operator chooses a lot layer, a
// code dictionary and an output folder, and 出表 builds the folder's
// statdata.sqlite and the report from them (OutputTownSecondLevel), without
// a statistics run; the dialog stays open for another output. Every control
// carries its resource number as object name.
//
// The dialog owns the lot layer and the code table it was given by its
// pickers: a new pick releases the previous one, and the end of the dialog
// releases the last ones, each exactly once.
class COutCZEJZDDlg : public qt::ModalDialog {
 public:
  static constexpr int kResourceId = 17024;
  static constexpr int kLotButton = 5005, kDictionaryButton = 5006, kOutputButton = 5007,
                       kLotPath = 5008, kDictionaryPath = 5009, kOutputPath = 5010, kOutput = 5011,
                       kQuit = 2, kPaged = 17005;

  explicit COutCZEJZDDlg(QWidget* parent = nullptr);
  ~COutCZEJZDDlg() override;

  std::string m_strZdPath;    // the lot layer: source, and ":" + layer when named
  std::string m_strOutPath;   // the output folder
  std::string m_strDictPath;  // the dictionary file
  bool m_bPaged = false;
  gis::LayerHandle m_aiZd = 0;
  gis::RuralCode* m_pCode = nullptr;
  std::string m_strTemplatePath;  // empty: the configuration's template

  // Members from the controls (`save`) or controls from the members.
  void DoDataExchange(bool save);
  void OnSelectLotLayer();
  void OnSelectDictionary();
  void OnSelectOutputPath();
  // Starts from a survey project: its lot layer (the one the town-lot run
  // takes) and its code file, when it has them, and `folder` for the output.
  void StartFrom(const gis::CGisXmlPrj& project, const std::string& folder);
  // Takes the controls into the members and runs the output when the lot
  // layer, the dictionary and the folder are there; shows how it ended.
  void OnOutput();
  // Releases the lot layer and the code table; a second call does nothing.
  void OnDestroy();
  void OnCancel() { reject(); }
  void done(int result) override;

  // The pickers. By default the desktop's file and folder dialogs; tests
  // put their own. A picker returns false when the operator cancelled.
  using LotLayerChooser = std::function<bool(std::string& source, std::string& layer)>;
  using PathChooser = std::function<bool(std::string& path)>;
  void SetLotLayerChooser(LotLayerChooser chooser) { choose_lots_ = std::move(chooser); }
  void SetDictionaryChooser(PathChooser chooser) { choose_dictionary_ = std::move(chooser); }
  void SetFolderChooser(PathChooser chooser) { choose_folder_ = std::move(chooser); }

  const TownSecondLevelOutcome& LastOutcome() const { return last_outcome_; }
  QWidget* Control(int id) const;

 private:
  bool ChooseLotLayer(std::string& source, std::string& layer);
  bool ChooseDictionary(std::string& path);
  bool ChooseFolder(std::string& path);
  // Opens the lot layer or loads the dictionary in place of the one in use;
  // one that cannot be read is named and the one in use kept.
  void UseLotLayer(const std::string& source, const std::string& layer);
  void UseDictionary(const std::string& path);
  void ReleaseLotLayer();
  void ReleaseCodes();
  // 出表 is offered only with a lot layer, a dictionary and a folder.
  void ShowOutputState();

  LotLayerChooser choose_lots_;
  PathChooser choose_dictionary_, choose_folder_;
  TownSecondLevelOutcome last_outcome_;
  QLineEdit* lot_path_;
  QLineEdit* dictionary_path_;
  QLineEdit* output_path_;
  QCheckBox* paged_box_;
  QPushButton* output_button_;
};

// Runs the dialog modally, started from the project and output folder when
// a project is given; returns 1 however it ended.
short OutCZEJZDDlg(const gis::CGisXmlPrj* project = nullptr, const std::string& folder = "");

}  // namespace landstat
