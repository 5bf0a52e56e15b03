// The engine's progress and messages in Qt: the progress dialog shows only
// while a job runs, and an error's statement goes to the log, not the box.

#include "ui/host_feedback.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/input_checks.h"
#include "support/program_dir.h"
#include "support/test_databases.h"
#include "ui/desktop_words.h"

namespace landstat {
namespace {

// Processes events for a while, so that timers due by then fire.
void ProcessEventsFor(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(HostFeedback, ProgressDialogShowsOnlyDuringAJob) {
  QWidget window;
  window.show();
  qt::DialogProgress progress(&window);
  ProcessEventsFor(100);
  EXPECT_FALSE(progress.Dialog()->isVisible());
  progress.Begin("统计");
  EXPECT_TRUE(progress.Dialog()->isVisible());
  EXPECT_EQ(progress.Dialog()->windowModality(), Qt::ApplicationModal);
  progress.End();
  ProcessEventsFor(100);
  EXPECT_FALSE(progress.Dialog()->isVisible());
}

// The bar shows the share of the whole job. Cancel (the button, Esc, the
// window's close button) asks the job to stop, which the engine hears; the
// dialog stays, saying so, until the job ends.
TEST(HostFeedback, CancelAsksTheJobToStopAndTheDialogStays) {
  QWidget window;
  window.show();
  qt::DialogProgress progress(&window);
  host::Progress* const previous = host::SetProgress(&progress);
  QProgressDialog* dialog = progress.Dialog();
  const std::function<void()> cancels[] = {
      [&] { dialog->findChild<QPushButton*>()->click(); },
      [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &escape);
      },
      [&] { dialog->close(); },
  };
  for (const std::function<void()>& cancel : cancels) {
    progress.Begin("统计");
    progress.Step("统计", 0.5);
    EXPECT_EQ(dialog->value() * 2, dialog->maximum());
    EXPECT_FALSE(host::JobCancelled());
    cancel();
    EXPECT_TRUE(host::JobCancelled());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->labelText().contains(QString::fromUtf8("正在取消")))
        << dialog->labelText().toStdString();
    progress.End();
    EXPECT_FALSE(dialog->isVisible());
  }
  host::SetProgress(previous);
}

TEST(HostFeedback, StatementsArePartedFromTheMessage) {
  const struct {
    const char* message;
    const char* text;
    const char* statement;
  } kCases[] = {
      {"no such table: T [select * from T]", "no such table: T", "select * from T"},
      {"report 一级: bad [SELECT [年度] from [T]]; the copy stays",
       "report 一级: bad; the copy stays", "SELECT [年度] from [T]"},
      {"county [330102] [update T set a = 1]", "county [330102]", "update T set a = 1"},
      {"layer [地类图斑] missing", "layer [地类图斑] missing", ""},
      {"plain", "plain", ""},
  };
  for (const auto& c : kCases) {
    const qt::ShownMessage shown = qt::SplitStatement(c.message);
    EXPECT_EQ(shown.text, c.text) << c.message;
    EXPECT_EQ(shown.statement, c.statement) << c.message;
  }
}

TEST(HostFeedback, AnErrorsStatementGoesToTheLog) {
  testing::TempDir dir;
  const std::string log = dir.File("gui.log");
  qt::MessageBoxNotifier notifier(nullptr, [&] { return log; });
  std::string boxed;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    boxed = box->text().toStdString();
    box->accept();
  });
  notifier.Show("no such table: T [select * from T]");
  EXPECT_EQ(boxed, "没有表 T\n(语句见日志 " + log + ")");
  std::ifstream written(log);
  std::stringstream text;
  text << written.rdbuf();
  EXPECT_NE(text.str().find("no such table: T [select * from T]"), std::string::npos) << text.str();
}

// Messages and questions sit over the dialog in use, so that no box brings
// the main window in front of it, and say the engine's words in Chinese,
// Qt's buttons too.
TEST(HostFeedback, MessageBoxesSitOverTheDialogInUseInChinese) {
  QTranslator* const translations = qt::InstallQtTranslations(*qApp);
  ASSERT_NE(translations, nullptr) << "Qt's Chinese translations are not installed";
  QWidget window;
  window.show();
  QDialog dialog(&window);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  qt::MessageBoxNotifier notifier(&window);
  const struct {
    std::function<void()> box_up;
    const char* text;
  } kBoxes[] = {
      {[&] { notifier.Show("说明"); }, "说明"},
      {[&] { notifier.Show("no such table: T [select * from T]"); }, "没有表 T"},
      {[&] { notifier.Ask("the connection string is empty"); }, "连接串为空"},
  };
  for (const auto& box_up : kBoxes) {
    QWidget* owner = nullptr;
    QString text;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      owner = box->parentWidget();
      text = box->text();
      for (QAbstractButton* button : box->buttons()) buttons << button->text();
      box->done(QMessageBox::No);
    });
    box_up.box_up();
    EXPECT_EQ(owner, &dialog);
    EXPECT_EQ(text.toStdString(), box_up.text);
    for (const QString& button : buttons) {
      EXPECT_FALSE(button.contains(QRegularExpression("[A-Za-z]{2}"))) << button.toStdString();
    }
  }
  QCoreApplication::removeTranslator(translations);
  delete translations;
}

// The engine's messages as the desktop shows them: in Chinese, what they
// name kept, a message within one and a Chinese text around one too; a
// report named by its title, not its table; what is no message of the
// engine's as it is.
TEST(HostFeedback, EngineMessagesShowInChinese) {
  const struct {
    std::string message;
    const char* shown;
  } kCases[] = {
      {host::SurveyKeyProblem("24", "330102"), "年度 '24' 不是四位数字"},
      {"读取统计数据库失败: cannot open the database file /d/2024330102.sqlite: database is "
       "locked",
       "读取统计数据库失败: 无法打开数据库文件 /d/2024330102.sqlite: 数据库被锁定"},
      {"the disk is full: the job's work is not saved (cannot write /d/x.working to disk)",
       "磁盘已满, 作业的结果没有保存 (无法把 /d/x.working 写入磁盘)"},
      {"report 土地利用现状一级分类面积汇总表 (table ZPMTDLY_YJFL): no such table: ZPMTDLY_YJFL",
       "报表 土地利用现状一级分类面积汇总表: 没有表 ZPMTDLY_YJFL"},
      {"表格本县的统计没有生成的报表:\n  一级分类面积汇总表 (TDLY_YJFL, built by a 通用城镇 run)\n"
       "  城镇分类面积汇总表 (CZTDLY, built by the town-lot run (landstat town))\n"
       "本版本没有的报表:\n  平衡表 (its writer PrintX is not in this version)",
       "表格本县的统计没有生成的报表:\n  一级分类面积汇总表 (由通用城镇汇总生成)\n"
       "  城镇分类面积汇总表 (由城镇宗地汇总生成)\n本版本没有的报表:\n  平衡表 "
       "(本版本没有它的出表程序)"},
      {"the statistics database /d/a.sqlite holds the statistics of 2023 330102, not those of "
       "2024 330102: run the statistics of 2024 330102 first",
       "统计数据库 /d/a.sqlite 中是 2023 330102 的统计, 不是 2024 330102 的: 请先统计 2024 330102"},
      {"汇总完毕!", "汇总完毕!"},
      {"FATAL:  role \"x\" does not exist", "FATAL:  role \"x\" does not exist"},
  };
  for (const auto& c : kCases) EXPECT_EQ(qt::InChinese(c.message), c.shown) << c.message;
}

// The string literals of C++ source text, adjacent ones joined; comments
// and character literals are passed over.
std::vector<std::string> StringLiterals(const std::string& text) {
  std::vector<std::string> literals;
  bool joined = false;  // a literal ended with only blanks after it so far
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view rest = std::string_view(text).substr(i);
    if (rest.starts_with("//") || rest.starts_with("/*")) {
      i = text.find(rest[1] == '/' ? "\n" : "*/", i + 2);
      if (i == std::string::npos) break;
    } else if (text[i] == '\'') {
      i = text.find('\'', i + (rest.starts_with("'\\") ? 3 : 2));
      if (i == std::string::npos) break;
      joined = false;
    } else if (text[i] == '"') {
      if (!joined) literals.emplace_back();
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && ++i < text.size()) {
          literals.back() += text[i] == 'n' ? '\n' : text[i];
        } else {
          literals.back() += text[i];
        }
      }
      joined = true;
    } else if (!std::isspace(static_cast<unsigned char>(text[i]))) {
      joined = false;
    }
  }
  return literals;
}

// The string literals of the engine's sources (src and apps), but those of
// the desktop's words.
struct SourceLiterals {
  SourceLiterals() {
    namespace fs = std::filesystem;
    for (const char* folder : {"src", "apps"}) {
      for (const auto& entry :
           fs::recursive_directory_iterator(fs::path(LANDSTAT_SOURCE_DIR) / folder)) {
        const fs::path& path = entry.path();
        if ((path.extension() != ".cpp" && path.extension() != ".h") ||
            path.filename() == "desktop_words.cpp") {
          continue;
        }
        for (std::string& literal : StringLiterals(testing::ReadFileBytes(path))) {
          if (literal.empty()) continue;
          joined += literal + "\n";
          reversed.insert(std::string(literal.rbegin(), literal.rend()));
          whole.insert(std::move(literal));
        }
      }
    }
  }
  // Whether some literal of `sorted` begins with `text`.
  static bool Begins(const std::set<std::string>& sorted, const std::string& text) {
    const auto found = sorted.lower_bound(text);
    return found != sorted.end() && found->starts_with(text);
  }
  // Whether `piece` is said: inside one literal, or put together from the
  // end of one, whole ones and the start of another.
  bool Say(const std::string& piece) const {
    if (joined.find(piece) != std::string::npos) return true;
    // Whether the piece's first i bytes are said up to the end of a literal.
    std::vector<bool> said(piece.size() + 1, false);
    for (std::size_t i = 1; i < piece.size(); ++i) {
      said[i] = Begins(reversed, std::string(piece.rend() - i, piece.rend()));
    }
    for (std::size_t i = 1; i < piece.size(); ++i) {
      if (!said[i]) continue;
      if (Begins(whole, piece.substr(i))) return true;
      for (std::size_t j = i + 1; j <= piece.size(); ++j) {
        said[j] = said[j] || whole.contains(piece.substr(i, j - i));
      }
    }
    return said[piece.size()];
  }

  std::string joined;  // a line each
  std::set<std::string> whole, reversed;
};

// Every English template of the engine's words is still said, so that a
// message reworded or removed leaves no stale entry behind: each piece
// between the places where it names something is in the sources.
TEST(HostFeedback, EveryEngineTemplateIsStillInTheSources) {
  const SourceLiterals sources;
  const std::vector<std::string> templates = qt::EngineTemplates();
  ASSERT_GT(templates.size(), 100u);
  for (const std::string& english : templates) {
    std::size_t from = 0;
    for (std::size_t at = 0; at != std::string::npos; from = at + 2) {
      at = english.find("{}", from);
      const std::string piece = english.substr(from, at == std::string::npos ? at : at - from);
      if (piece.find_first_not_of(' ') == std::string::npos) continue;
      EXPECT_TRUE(sources.Say(piece)) << '"' << piece << "\" of: " << english;
    }
  }
}

// A message too long for the screen shows its first lines; the whole text
// is in the box's details.
TEST(HostFeedback, ALongMessageShowsItsFirstLinesAndTheWholeInDetails) {
  qt::MessageBoxNotifier notifier(nullptr);
  std::string text = "0", first = "0";
  for (int i = 1; i < 30; ++i) {
    text += "\n" + std::to_string(i);
    if (i < 20) first += "\n" + std::to_string(i);
  }
  std::string boxed, details;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    boxed = box->text().toStdString();
    details = box->detailedText().toStdString();
    box->accept();
  });
  notifier.Show(text);
  EXPECT_EQ(boxed, first + "\n……");
  EXPECT_EQ(details, text);
}

}  // namespace
}  // namespace landstat
