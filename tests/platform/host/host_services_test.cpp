#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/host/host_settings.h"
#include "platform/host/log_file.h"
#include "platform/host/notifier.h"
#include "platform/host/paths.h"
#include "platform/host/progress.h"
#include "resources/resources.h"
#include "support/program_dir.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::ScopedProgramDir;
using testing::ScopedTraceCapture;
using testing::TempDir;
using testing::WriteFileBytes;

TEST(ProgramDirectory, SetFolderWinsOverTheEnvironment) {
  ScopedProgramDir home;
  TempDir other;
  const char* saved = std::getenv("LANDSTAT_HOME");
  const std::string saved_home = saved ? saved : "";
  ::setenv("LANDSTAT_HOME", other.path().c_str(), 1);
  EXPECT_EQ(host::ProgramDir(), home.path().string());
  host::SetProgramDir("");
  EXPECT_EQ(host::ProgramDir(), other.path().string());
  EXPECT_EQ(host::DataSourceIniPath(), other.File("rivadoverid.ini"));
  if (saved) {
    ::setenv("LANDSTAT_HOME", saved_home.c_str(), 1);
  } else {
    ::unsetenv("LANDSTAT_HOME");
  }
  host::SetProgramDir(home.path().string());
  EXPECT_EQ(host::StatConfigPath(),
            (home.path() / "qentar" / "_secondfun_" / "StatConfig.ini").string());
}

TEST(HostSettings, VersionDefaultsToTheGenericVariant) {
  ScopedProgramDir home;
  EXPECT_EQ(host::HostVersion(), "通用农村");
  WriteFileBytes(home.File("HostSetting.xml"), "<HostSetting><Set version=\"\"/></HostSetting>");
  EXPECT_EQ(host::HostVersion(), "通用农村");
}

TEST(HostSettings, VersionIsRead) {
  ScopedProgramDir home;
  WriteFileBytes(
      home.File("HostSetting.xml"),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<HostSetting><Set version=\"广东农村\"/><Exp ISDIFF_XQCODE=\"1\"/></HostSetting>");
  EXPECT_EQ(host::HostVersion(), "广东农村");
  EXPECT_EQ(host::GetHostSetting("Exp", "ISDIFF_XQCODE", "0"), "1");
  EXPECT_EQ(host::GetHostSetting("Exp", "Missing", "0"), "0");
  EXPECT_EQ(host::GetHostSetting("Missing", "version", "x"), "x");
}

TEST(HostSettings, GbkFileOfAnOlderProgram) {
  ScopedProgramDir home;
  // version="广东农村" in a file the older program wrote in GBK.
  WriteFileBytes(home.File("HostSetting.xml"),
                 "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
                 "<HostSetting><Set version=\"\xB9\xE3\xB6\xAB\xC5\xA9\xB4\xE5\"/></HostSetting>");
  EXPECT_EQ(host::HostVersion(), "广东农村");
}

TEST(HostSettings, MalformedFileFallsBackAndIsReportedOnce) {
  ScopedProgramDir home;
  WriteFileBytes(home.File("HostSetting.xml"), "<HostSetting><Set version=\"广东农村\"></HostSe");
  ScopedTraceCapture trace;
  EXPECT_EQ(host::HostVersion(), "通用农村");
  EXPECT_EQ(host::HostVersion(), "通用农村");
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_NE(trace.lines[0].find("HostSetting.xml"), std::string::npos) << trace.lines[0];
}

TEST(XmlSettings, WriteThenRead) {
  TempDir dir;
  const std::string path = (dir.path() / "new" / "s.xml").string();
  EXPECT_EQ(host::ReadXmlSetting(path, "A", "k", "fallback"), "fallback");
  ASSERT_TRUE(host::WriteXmlSetting(path, "A", "k", "一"));
  ASSERT_TRUE(host::WriteXmlSetting(path, "A", "other", "二"));
  ASSERT_TRUE(host::WriteXmlSetting(path, "B", "k", "<&\"'>"));
  ASSERT_TRUE(host::WriteXmlSetting(path, "A", "k", "三"));
  EXPECT_EQ(host::ReadXmlSetting(path, "A", "k", ""), "三");
  EXPECT_EQ(host::ReadXmlSetting(path, "A", "other", ""), "二");
  EXPECT_EQ(host::ReadXmlSetting(path, "B", "k", ""), "<&\"'>");
  EXPECT_EQ(host::ReadXmlSetting(path, "B", "other", "fallback"), "fallback");
}

TEST(XmlSettings, WritingKeepsTheFileAsItWas) {
  ScopedProgramDir home;
  WriteFileBytes(
      home.File("HostSetting.xml"),
      "<HostSetting><Set version=\"广东农村\"/><Exp ISDIFF_XQCODE=\"1\"/></HostSetting>");
  ASSERT_TRUE(host::WriteXmlSetting(host::HostSettingsPath(), "Exp", "Other", "2"));
  EXPECT_EQ(host::HostVersion(), "广东农村");
  EXPECT_EQ(host::GetHostSetting("Exp", "ISDIFF_XQCODE"), "1");
  EXPECT_EQ(host::GetHostSetting("Exp", "Other"), "2");
  EXPECT_NE(ReadFileBytes(home.File("HostSetting.xml")).find("<HostSetting>"), std::string::npos);
}

TEST(XmlSettings, ModuleSettingsLieInTheConfigurationFolder) {
  ScopedProgramDir home;
  const fs::path config = home.path() / "qentar" / "_secondfun_";
  EXPECT_EQ(host::ModuleXmlFilePath("Other.xml"), (config / "Other.xml").string());
  EXPECT_EQ(host::ModuleSettingXml("Stat", "Mode", "none"), "none");
  WriteFileBytes(config / "ModuleSetting.xml", "<Modules><Stat Mode=\"快速\"/></Modules>");
  EXPECT_EQ(host::ModuleSettingXml("Stat", "Mode", "none"), "快速");
  EXPECT_EQ(host::ModuleSettingXml("Stat", "Other", "none"), "none");
}

TEST(DataSources, KindOfASource) {
  EXPECT_EQ(host::_AdoGetDbType(""), 0);
  EXPECT_EQ(host::_AdoGetDbType("host=127.0.0.1 dbname=x"), 1);
  EXPECT_EQ(host::_AdoGetDbType("landstat"), 1);
  EXPECT_EQ(host::_AdoGetDbType("postgresql://u@h/db"), 1);
  EXPECT_EQ(host::_AdoGetDbType("oracle:ORCL"), 2);
}

TEST(DataSources, ConnectionStringOfASource) {
  EXPECT_EQ(host::_AdoGetConnectionString(""), "");
  EXPECT_EQ(host::_AdoGetConnectionString("host=127.0.0.1 dbname=x"), "host=127.0.0.1 dbname=x");
  EXPECT_EQ(host::_AdoGetConnectionString("postgresql://u@h/db"), "postgresql://u@h/db");
  EXPECT_EQ(host::_AdoGetConnectionString("landstat"), "service=landstat");
  EXPECT_EQ(host::_AdoGetConnectionString("oracle:ORCL"), "oracle:ORCL");
  // What comes out is something the database layer takes for a server;
  // the plain path of a file that exists, for that file.
  TempDir dir;
  const std::string file = dir.File("source.sqlite");
  WriteFileBytes(file, "");
  const struct {
    std::string name;
    db::DbKind kind;
  } sources[] = {{"landstat", db::DbKind::kServer},
                 {"host=127.0.0.1 dbname=x", db::DbKind::kServer},
                 {"postgresql://u@h/db", db::DbKind::kServer},
                 {file, db::DbKind::kEmbedded}};
  for (const auto& source : sources) {
    const db::ConnectionTarget target =
        db::ParseConnectionString(host::_AdoGetConnectionString(source.name));
    EXPECT_EQ(target.kind, source.kind) << source.name;
    if (source.kind == db::DbKind::kEmbedded) {
      EXPECT_EQ(target.location, file);
    }
  }
}

TEST(MessageBox, ShowsOrAsksByStyle) {
  host::RecordingNotifier no(false);
  host::ScopedNotifier scope(no);
  EXPECT_EQ(host::AfxMessageBox("统计完成"), host::IDOK);
  EXPECT_EQ(host::AfxMessageBox("提示", host::MB_OK | host::MB_ICONINFORMATION), host::IDOK);
  EXPECT_EQ(host::AfxMessageBox("覆盖吗?", host::MB_YESNO | host::MB_ICONQUESTION), host::IDNO);
  EXPECT_EQ(host::AfxMessageBox("继续吗?", host::MB_OKCANCEL), host::IDCANCEL);
  EXPECT_EQ(no.messages, (std::vector<std::string>{"统计完成", "提示"}));
  EXPECT_EQ(no.questions, (std::vector<std::string>{"覆盖吗?", "继续吗?"}));

  host::RecordingNotifier yes(true);
  host::ScopedNotifier inner(yes);
  EXPECT_EQ(host::AfxMessageBox("覆盖吗?", host::MB_YESNO), host::IDYES);
  EXPECT_EQ(host::AfxMessageBox("继续吗?", host::MB_OKCANCEL | host::MB_ICONQUESTION), host::IDOK);
  EXPECT_EQ(yes.questions.size(), 2u);
  EXPECT_TRUE(yes.messages.empty());
}

TEST(MessageBox, ScopedNotifierRestoresThePreviousOne) {
  host::RecordingNotifier outer;
  {
    host::ScopedNotifier outer_scope(outer);
    {
      host::RecordingNotifier inner;
      host::ScopedNotifier inner_scope(inner);
      host::AfxMessageBox("inner");
      EXPECT_EQ(inner.messages.size(), 1u);
    }
    host::AfxMessageBox("outer");
    EXPECT_EQ(outer.messages, std::vector<std::string>{"outer"});
    EXPECT_EQ(&host::CurrentNotifier(), &outer);
  }
  // Back to the default: the terminal, answering no.
  ::testing::internal::CaptureStderr();
  const int answer = host::AfxMessageBox("覆盖吗?", host::MB_YESNO);
  host::AfxMessageBox("done");
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, host::IDNO);
  EXPECT_NE(printed.find("覆盖吗?"), std::string::npos) << printed;
  EXPECT_NE(printed.find("done"), std::string::npos) << printed;
  EXPECT_EQ(outer.messages.size(), 1u);
}

TEST(TerminalProgressBar, DrawsPercentageAndEndsTheLine) {
  host::TerminalProgress bar;
  ::testing::internal::CaptureStderr();
  bar.Begin("汇总");
  bar.Step("汇总", 0.5);
  bar.Step("汇总", 1);  // the job's end: all done
  bar.End();
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("汇总"), std::string::npos) << printed;
  EXPECT_NE(printed.find("100%"), std::string::npos) << printed;
  EXPECT_NE(printed.find('['), std::string::npos) << printed;
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed.back(), '\n');
  EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line only: " << printed;
}

TEST(TerminalProgressBar, NewTextIsDrawnAtOnce) {
  host::TerminalProgress bar;
  ::testing::internal::CaptureStderr();
  bar.Begin("一");
  bar.Step("二", 0.5);
  bar.SetText("三");
  bar.End();
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("% 二"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("100%"), std::string::npos) << printed;
  EXPECT_NE(printed.find("三"), std::string::npos) << printed;
}

TEST(TerminalProgressBar, NoTotalAndNothingDrawn) {
  host::TerminalProgress bar;
  ::testing::internal::CaptureStderr();
  bar.End();  // nothing drawn: no empty line
  bar.Begin("x");
  bar.Step("y", 0);
  bar.End();
  bar.End();
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("  0% y"), std::string::npos) << printed;
  EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
}

class RecordingProgress : public host::Progress {
 public:
  void Begin(const std::string& text) override { calls.push_back("begin " + text); }
  void SetText(const std::string& text) override { calls.push_back("text " + text); }
  void Step(const std::string& text, double share) override {
    calls.push_back("step " + text + " " + std::to_string(static_cast<int>(share * 100 + 0.5)));
  }
  void End() override { calls.push_back("end"); }
  std::vector<std::string> calls;
};

TEST(ProgressCalls, GoToTheProgressSet) {
  RecordingProgress recorder;
  host::Progress* previous = host::SetProgress(&recorder);
  host::LindoDlgProgress("建表");
  host::LindoDlgProgressSetText("写入");
  host::LindoDlgSetProgress("写入", 3, 10);
  host::LindoDlgEndProgress();
  EXPECT_EQ(host::SetProgress(previous), &recorder);
  EXPECT_EQ(recorder.calls,
            (std::vector<std::string>{"begin 建表", "text 写入", "step 写入 40", "end"}));

  // None set: the calls go nowhere.
  host::Progress* before = host::SetProgress(nullptr);
  host::LindoDlgProgress("x");
  host::LindoDlgSetProgress("x", 1, 2);
  host::LindoDlgEndProgress();
  host::SetProgress(before);
  EXPECT_EQ(recorder.calls.size(), 4u);
}

// A job's stages put the bar where the whole job stands, whoever reports:
// the stages done, the walk under way within its stage's share (or its
// part's, when the stage is parted), a job run within a stage of another in
// that stage's part. The engine's begin and
// end within the stages change only the text; the stages begin and end.
TEST(ProgressCalls, JobStagesShowTheWholeJob) {
  RecordingProgress recorder;
  host::Progress* previous = host::SetProgress(&recorder);
  {
    host::JobStages job("汇总", {{"a", 1}, {"b", 3}});
    host::StepStage(0, 2);                  // a's first half under way
    host::LindoDlgSetProgress("走", 3, 4);  // a walk, all done: half of a
    job.Done("a");                          // 25
    host::LindoDlgSetProgress("走", 1, 4);  // half of b: 62.5
    host::LindoDlgSetProgress("走", 0, 4);  // never back
    host::LindoDlgProgress("内");
    host::LindoDlgEndProgress();
    {
      host::JobStages inner("年", {{"x", 1}, {"y", 1}});  // the rest of b, from 62.5
      inner.Done("x");
      host::StepStage(1, 2);
    }
    job.Done("a");  // done before: stays
    job.Done("b");
  }
  host::SetProgress(previous);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{
                                "begin 汇总", "step 汇总 0", "step 汇总 0", "step 走 13",
                                "step 走 25", "step 走 63", "step 走 63", "text 内", "step 年 63",
                                "step 年 81", "step 年 91", "step 内 100", "step 内 100", "end"}));
}

TEST(Resources, BuiltInTexts) {
  const std::string classes = LoadResourceText("LandClasses", "CODE");
  EXPECT_NE(classes.find("地类代码\t011\t水田"), std::string::npos);
  EXPECT_EQ(classes.find('\0'), std::string::npos);
  EXPECT_EQ(resources::LandClassCodes(), classes);

  const std::string config = LoadResourceText("StatConfig", "INI");
  EXPECT_NE(config.find("[AreaUnit]"), std::string::npos);
  EXPECT_EQ(config.find('\0'), std::string::npos);
}

// A job's log is made, emptied or written after its lines, never through a
// symbolic link nor into anything but a regular file; a log that cannot be
// opened is named with the reason.
TEST(LogFile, OpensOnlyARegularFileOfItsOwn) {
  TempDir dir;
  WriteFileBytes(dir.File("old.log"), "old\n");
  WriteFileBytes(dir.File("kept.log"), "old\n");
  WriteFileBytes(dir.File("victim"), "keep\n");
  fs::create_symlink(dir.File("victim"), dir.File("link.log"));
  fs::create_symlink(dir.File("nowhere"), dir.File("dangling.log"));
  fs::create_directory(dir.File("folder.log"));
  ASSERT_EQ(::mkfifo(dir.File("pipe.log").c_str(), 0600), 0);
  using enum host::LogOpening;
  const struct {
    const char* name;
    host::LogOpening how;
    const char* text;  // the file after one line was written; null: refused
    const char* reason = "";
  } kCases[] = {
      {"new.log", kEmpty, "line\n"},
      {"old.log", kEmpty, "line\n"},
      {"kept.log", kAppend, "old\nline\n"},
      {"link.log", kEmpty, nullptr, "symbolic link"},
      {"dangling.log", kAppend, nullptr, "symbolic link"},
      {"folder.log", kEmpty, nullptr, "no regular file"},
      {"pipe.log", kAppend, nullptr, "no regular file"},
      {"no/such/x.log", kEmpty, nullptr, "No such file"},
  };
  for (const auto& c : kCases) {
    const std::string path = dir.File(c.name);
    std::string error;
    host::LogFile log = host::OpenLogFile(path, c.how, error);
    if (c.text == nullptr) {
      EXPECT_FALSE(log) << c.name;
      EXPECT_THAT(error,
                  ::testing::AllOf(::testing::HasSubstr(path), ::testing::HasSubstr(c.reason)));
      continue;
    }
    ASSERT_TRUE(log) << error;
    std::fputs("line\n", log.get());
    log.reset();
    EXPECT_EQ(ReadFileBytes(path), c.text) << c.name;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("victim")), "keep\n");
  EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

TEST(Resources, UnknownOrUntypedIsEmpty) {
  EXPECT_EQ(LoadResourceText("StatConfig", ""), "");
  EXPECT_EQ(LoadResourceText("StatConfig", "CODE"), "");
  EXPECT_EQ(LoadResourceText("NoSuchResource", "INI"), "");
  EXPECT_EQ(LoadResourceText(0, ""), "");
  EXPECT_EQ(LoadResourceText(987654, "SQL"), "");
  EXPECT_EQ(LoadResourceText(987654, "CODE"), "");
}

}  // namespace
}  // namespace landstat
