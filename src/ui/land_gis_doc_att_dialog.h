#pragma once

#include <QAction>
#include <QComboBox>
#include <QSplitter>
#include <QTabWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gis/project.h"
#include "platform/gis/rural_code.h"
#include "ui/gis_att_doc_tree.h"
#include "ui/gis_att_grid.h"
#include "ui/gis_map_view.h"
#include "ui/modal_dialog.h"

namespace landstat {

// Dialog 17008 "查看", the layer browser: the project's tree on the left with
// the combos of the area statistics (801 level, 802 unit, 803 scope) below
// it, the map on the right and, under the map once a layer is opened, the
// attribute grid in the tab "属性浏览". Its menu: 地图 / 页面设置 (17062),
// 打印输出 (17063, the map into a PDF file), 统计汇总 / 统计输出 (17061, the
// grid into a new workbook). The tree is in browse mode; range mode, for
// range projects, starts the 3D house-model program from "房屋模型".
// Every control carries its resource number as object name.
class CLandGisDocAttDlg : public qt::ModalDialog, private CGisAttDocTree::Actions {
 public:
  static constexpr int kResourceId = 17008;

  explicit CLandGisDocAttDlg(QWidget* parent = nullptr);
  ~CLandGisDocAttDlg() override;

  // What the launcher gives.
  std::string m_strDocPath;                             // the project file
  const std::vector<std::string>* m_pTitles = nullptr;  // area statistics titles, not owned
  std::string m_strTemplatePath;                        // the workbook the area output copies
  std::string m_strCatalogPath;                         // the area statistics catalogue
  gis::RuralCode* m_pCode = nullptr;                    // the caller's, or made from m_arrCodeFiles
  std::vector<std::string> m_arrCodeFiles;              // the second launcher's code files

  double m_dRatioX = 0.25;  // the tree's share of the width
  double m_dRatioY = 1.0;   // the map's share of the height
  short m_nUnit = 0;        // combo 802 at the last area output
  short m_nScope = 0;       // combo 803 at the last area output

  // OnInitDialog, the modal loop, OnDestroy; IDOK or IDCANCEL.
  int DoModal();
  void OnInitDialog();
  // Closes the project; deletes the code table the browser made.
  void OnDestroy();

  void ShowAttributeGrid(bool show);
  void OnStatOutput();
  void OnPageSetup();
  void OnPrintOut();
  // The area statistics of `title` from the database file `database`.
  short OutputAreaStat(const std::string& database, const std::string& title);

  gis::CGisXmlPrj* Project() const { return project_.get(); }
  CGisAttDocTree* Tree() const { return tree_; }
  CGisAttGridCtrl* Grid() const { return grid_; }
  CGisMapView* MapView() const { return view_; }
  QComboBox* Combo(int id) const;
  QAction* MenuAction(int id) const;
  bool OwnsCodeTable() const { return own_code_; }
  // The workbook the last statistics output wrote.
  const std::string& LastGridWorkbook() const { return grid_workbook_; }

  // Shows a written workbook; by default the desktop's program for it.
  using Viewer = std::function<bool(const std::string& path)>;
  void SetViewer(Viewer viewer) { viewer_ = std::move(viewer); }
  // The PDF file the map prints into; empty to print nothing. By default
  // a file dialog.
  using PdfChooser = std::function<std::string()>;
  void SetPdfChooser(PdfChooser chooser) { choose_pdf_ = std::move(chooser); }

 protected:
  // The splitters' resizes keep the ratios.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadDocument();
  void ArrangeControls();
  void Guarded(const std::function<void()>& command);
  void StopFlash() override;
  void OpenLayer(const std::string& name) override;
  void LetLayerGo() override;
  void StartHouseModel() override;
  void RunAreaStat(const std::string& database, const std::string& title) override;

  std::unique_ptr<gis::CGisXmlPrj> project_;
  bool own_code_ = false;
  std::string grid_workbook_;
  Viewer viewer_;
  PdfChooser choose_pdf_;
  CGisAttDocTree* tree_;
  CGisMapView* view_;
  CGisAttGridCtrl* grid_;
  QTabWidget* tabs_;
  QSplitter* across_;  // tree | map and grid
  QSplitter* down_;    // map over grid
};

// The launchers: the browser on a project file with the area statistics
// titles, their template and catalogue, and the caller's code table (kept,
// never deleted), or a list of code files of which the browser loads the
// first for its own code table and deletes it at the end.
void LandGisDocAttDlg(const char* document, const std::vector<std::string>* titles,
                      const std::string& template_path, const std::string& catalogue,
                      gis::RuralCode* codes);
void LandGisDocAttDlg(const char* document, const std::vector<std::string>* titles,
                      const std::string& template_path, const std::string& catalogue,
                      const std::vector<std::string>& code_files);

}  // namespace landstat
