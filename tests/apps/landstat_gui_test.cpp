// The desktop host's window without a screen: opening a project finds its
// county and the database beside it; the dialogs wait for both.

#include <gtest/gtest.h>

#include <filesystem>

#include "county_plan.h"
#include "county_writer.h"
#include "engine/database_helpers.h"
#include "main_window.h"
#include "platform/host/notifier.h"
#include "support/test_databases.h"

namespace landstat {
namespace {

TEST(LandstatGui, OpensAProjectWithTheDatabaseBesideIt) {
  testing::TempDir dir;
  county::CountyOptions options;
  options.parcels = 20;
  const county::CountyFiles files =
      county::WriteCounty(county::PlanCounty(options), dir.File("county"));
  gui::MainWindow window;
  host::RecordingNotifier notifier;
  host::ScopedNotifier scoped(notifier);
  EXPECT_FALSE(window.ConvertAction()->isEnabled());

  EXPECT_FALSE(window.OpenProject(dir.File("missing.xml")));
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_NE(notifier.messages[0].find("missing.xml"), std::string::npos);

  const std::string database =
      (std::filesystem::path(files.project).parent_path() / "2009.sqlite").string();
  ASSERT_EQ(CreateAcessDB(database), 1);
  ASSERT_TRUE(window.OpenProject(files.project));
  EXPECT_EQ(window.Database(), database);
  const std::string status = window.StatusText()->text().toStdString();
  EXPECT_NE(status.find(options.county_code), std::string::npos) << status;
  EXPECT_TRUE(window.ConvertAction()->isEnabled());
  EXPECT_TRUE(window.CountyCodeAction()->isEnabled());
}

}  // namespace
}  // namespace landstat
