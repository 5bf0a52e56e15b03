// The town second-level classification dialog, off screen: its pickers, its
// output and what it releases.

#include "ui/out_czejzd_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <string>

#include "county_plan.h"
#include "county_writer.h"
#include "main_window.h"
#include "platform/gis/project.h"
#include "platform/host/notifier.h"
#include "support/program_dir.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

class OutCzejzdDialogTest : public ::testing::Test {
 protected:
  OutCzejzdDialogTest() {
    county::CountyOptions options;
    options.parcels = 60;
    options.seed = 7;
    files_ = county::WriteCounty(county::PlanCounty(options), dir_.File("county"));
    fs::create_directories(dir_.File("out"));
    dialog_.m_strTemplatePath =
        std::string(LANDSTAT_SOURCE_DIR) + "/src/resources/templates/二次详查表格.xlsx";
    dialog_.SetLotLayerChooser([this](std::string& source, std::string& layer) {
      source = files_.survey;
      layer.clear();
      return pick_;
    });
    dialog_.SetDictionaryChooser([this](std::string& path) {
      path = files_.codes;
      return pick_;
    });
  }

  // Whether the layer opened under `handle` with `serial` is still open.
  static bool Open(gis::LayerHandle handle, long serial) {
    return serial != 0 && gis::LayerSerial(handle) == serial;
  }

  testing::TempDir dir_;
  county::CountyFiles files_;
  host::RecordingNotifier notifier_;
  host::ScopedNotifier scoped_{notifier_};
  COutCZEJZDDlg dialog_;
  bool pick_ = true;  // false: the operator cancels the pick
};

TEST_F(OutCzejzdDialogTest, OutputRunsOnlyWithItsThreeInputs) {
  EXPECT_EQ(dialog_.ResourceId(), 17024);
  EXPECT_EQ(dialog_.windowTitle().toStdString(), "城镇宗地二级分类面积表");
  auto* output = dialog_.Control(COutCZEJZDDlg::kOutput);
  auto* folder = static_cast<QLineEdit*>(dialog_.Control(COutCZEJZDDlg::kOutputPath));
  // A folder not there yet is made by the output alone.
  folder->setText(QString::fromStdString(dir_.File("out/报表")));
  dialog_.OnSelectLotLayer();
  EXPECT_FALSE(output->isEnabled());
  dialog_.OnOutput();  // no dictionary: nothing happens, nothing is said
  EXPECT_TRUE(notifier_.messages.empty());
  EXPECT_TRUE(fs::is_empty(dir_.File("out")));

  dialog_.OnSelectDictionary();
  EXPECT_TRUE(output->isEnabled());
  static_cast<QCheckBox*>(dialog_.Control(COutCZEJZDDlg::kPaged))->setChecked(true);
  static_cast<QPushButton*>(output)->click();  // the typed folder, paged
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_EQ(
      notifier_.messages[0].rfind("已写出 " + dir_.File("out/报表/城镇宗地二级分类面积表.xlsx"), 0),
      0u)
      << notifier_.messages[0];
  EXPECT_TRUE(dialog_.LastOutcome().Clean());
  EXPECT_TRUE(fs::exists(dir_.File("out/报表/statdata.sqlite")));
}

TEST_F(OutCzejzdDialogTest, PicksAndTheEndReleaseEachChoiceOnce) {
  dialog_.OnSelectLotLayer();
  dialog_.OnSelectDictionary();
  const gis::LayerHandle lots = dialog_.m_aiZd, codes = dialog_.m_pCode->m_ai;
  const long lot_serial = gis::LayerSerial(lots), code_serial = gis::LayerSerial(codes);
  ASSERT_TRUE(Open(lots, lot_serial) && Open(codes, code_serial));

  pick_ = false;  // a cancelled pick keeps the choice in use
  dialog_.OnSelectLotLayer();
  dialog_.OnSelectDictionary();
  EXPECT_TRUE(Open(lots, lot_serial) && Open(codes, code_serial));

  pick_ = true;  // a second choice releases the first
  dialog_.OnSelectLotLayer();
  dialog_.OnSelectDictionary();
  EXPECT_FALSE(Open(lots, lot_serial) || Open(codes, code_serial));
  const gis::LayerHandle lots2 = dialog_.m_aiZd, codes2 = dialog_.m_pCode->m_ai;
  const long lot_serial2 = gis::LayerSerial(lots2), code_serial2 = gis::LayerSerial(codes2);
  EXPECT_TRUE(Open(lots2, lot_serial2) && Open(codes2, code_serial2));

  dialog_.OnCancel();  // the end releases the last choices; the destructor finds nothing
  EXPECT_FALSE(Open(lots2, lot_serial2) || Open(codes2, code_serial2));
  EXPECT_EQ(dialog_.m_pCode, nullptr);
  EXPECT_EQ(dialog_.m_aiZd, 0);
  EXPECT_TRUE(notifier_.messages.empty());
}

// Started from a project, the dialog has its lots and code file chosen.
TEST_F(OutCzejzdDialogTest, StartsFromTheOpenProject) {
  const auto project = gis::CGisXmlPrj::Open(files_.project);
  dialog_.StartFrom(*project, dir_.File("out"));
  EXPECT_EQ(dialog_.m_strZdPath, files_.survey + ":城镇权属层");
  EXPECT_EQ(dialog_.m_strDictPath, project->GetCodeFile());
  EXPECT_EQ(dialog_.m_strOutPath, dir_.File("out"));
  EXPECT_TRUE(dialog_.Control(COutCZEJZDDlg::kOutput)->isEnabled());
  EXPECT_TRUE(notifier_.messages.empty());
}

// The desktop host offers the dialog in its report menu, with no project
// open; with one, it starts from the report folder beside the project,
// which opening the dialog does not make.
TEST_F(OutCzejzdDialogTest, MenuEntryOpensTheDialog) {
  testing::ScopedProgramDir home;
  gui::MainWindow window;
  ASSERT_TRUE(window.TownReportAction()->isEnabled());
  EXPECT_EQ(window.TownReportAction()->text().toStdString(), "城镇宗地二级分类面积表...");
  for (bool with_project : {false, true}) {
    if (with_project) {
      ASSERT_TRUE(window.OpenProject(files_.project));
    }
    int resource = 0;
    std::string folder;
    QTimer::singleShot(0, [&] {
      auto* dialog = dynamic_cast<COutCZEJZDDlg*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      resource = dialog->ResourceId();
      folder = dialog->m_strOutPath;
      dialog->OnCancel();
    });
    window.TownReportAction()->trigger();
    EXPECT_EQ(resource, COutCZEJZDDlg::kResourceId);
    EXPECT_EQ(folder.empty(), !with_project);
    EXPECT_FALSE(!folder.empty() && fs::exists(folder)) << folder;
  }
}

}  // namespace
}  // namespace landstat
