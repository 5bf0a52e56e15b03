// The unit-conversion dialog on a generated county's run: it offers the
// run's year and converts it to the chosen unit.

#include "ui/convert_area_unit_dialog.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>

#include "engine/table_names.h"
#include "landuse/generated_county_run.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "support/test_databases.h"
#include "units/database_conversion.h"

namespace landstat {
namespace {

// The run stores square metres, hectares and mu.
class ConvertAreaUnitDialogTest : public testing::BothEngines {
 protected:
  void SetUpDatabase() override {
    testing::WriteStatConfig(
        "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n[PointLen]\nLen1=2\nLen2=4\nLen3=2\n");
    county_ = std::make_unique<testing::GeneratedCountyRun>(home_, 53);
    ASSERT_EQ(county_->Run("通用农村", Connection(), IsServer()), 1);
  }
  std::string Connection() { return database().ConnectionString(); }
  short Recorded(const std::string& type) {
    return GetStatDataAreaUnit(Connection(), Mode(), "2009", county_->options.county_code, type);
  }
  testing::ScopedProgramDir home_;
  std::unique_ptr<testing::GeneratedCountyRun> county_;
};

// Records whether the dialog could be clicked while the conversion reports
// its progress (events are processed then).
class EnabledDuringJob : public host::SilentProgress {
 public:
  explicit EnabledDuringJob(QWidget& dialog) : dialog_(dialog) {}
  void SetText(const std::string&) override { enabled.push_back(dialog_.isEnabled()); }
  std::vector<bool> enabled;

 private:
  QWidget& dialog_;
};

TEST_P(ConvertAreaUnitDialogTest, DialogConvertsTheChosenYear) {
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  CConvertAreaUnitDlg dialog(county_->codes.get(), Connection(), Mode(),
                             county_->options.county_code, county_->log);
  EXPECT_EQ(dialog.ResourceId(), 17013);
  ASSERT_EQ(dialog.YearBox()->count(), 1);
  EXPECT_EQ(dialog.YearBox()->currentText().toStdString(), "2009");
  EXPECT_EQ(dialog.CurrentUnitLabel()->text().toStdString(), "未转换");
  dialog.UnitBox()->setCurrentIndex(dialog.UnitBox()->findData(kMu));
  EnabledDuringJob progress(dialog);
  host::Progress* const previous = host::SetProgress(&progress);
  QTimer::singleShot(0, &dialog, [&] { dialog.OkButton()->click(); });
  EXPECT_EQ(dialog.DoModal(), host::IDOK);
  host::SetProgress(previous);
  ASSERT_FALSE(progress.enabled.empty());
  EXPECT_EQ(std::count(progress.enabled.begin(), progress.enabled.end(), true), 0);
  EXPECT_EQ(dialog.m_nResult, 1);
  EXPECT_EQ(Recorded("NCTDLY_YJFL"), kMu);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0], "面积单位转换完成");
}

LANDSTAT_BOTH_ENGINES(ConvertAreaUnitDialogTest);

}  // namespace
}  // namespace landstat
