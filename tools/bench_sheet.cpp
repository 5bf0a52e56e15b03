// Rows per second and peak memory of filling a report sheet from a synthetic
// row source of 10,000, 100,000 and 1,000,000 rows (or the sizes given as
// arguments). Each size runs in a child process of its own, so the peak
// memory is that size's alone.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sheet/bat_print_excel.h"
#include "sample_template.h"

namespace {

using landstat::db::Value;

// Rows like those of a summary table: a code, a name and two areas.
class SyntheticRows : public landstat::sheet::SheetRows {
 public:
  explicit SyntheticRows(long count) : count_(count) {}
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<Value>& row) override {
    if (done_ == count_) return false;
    row.resize(4);
    row[0] = std::to_string(330102000000L + done_);
    row[1].AssignText("第" + std::to_string(done_ % 1000) + "村");
    row[2] = 1234.5 + static_cast<double>(done_ % 977) / 100;
    row[3] = static_cast<long long>(done_ * 7);
    ++done_;
    return true;
  }

 private:
  long count_;
  long done_ = 0;
  std::vector<std::string> names_{"代码", "名称", "面积", "面积"};
};

int RunOne(long rows, const std::string& folder) {
  const std::string path = folder + "/bench-" + std::to_string(rows) + ".xlsx";
  landstat::sheet::WriteSampleTemplate(path);
  const auto start = std::chrono::steady_clock::now();
  {
    landstat::sheet::BatPrintExcel book(path);
    SyntheticRows source(rows);
    const std::vector<landstat::sheet::SWhiteParam> pairs{{"年度", "2023"}, {"单位", "公顷"}};
    book.FillSheet(source, "报表甲", pairs, landstat::sheet::Paging::kUnpaged);
    book.PrintOut(1, 1);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto bytes = std::filesystem::file_size(path);
  std::filesystem::remove(path);
  std::printf("%9ld rows  %7.2f s  %10.0f rows/s  file %6.1f MB", rows, seconds, rows / seconds,
              static_cast<double>(bytes) / (1 << 20));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes{10000, 100000, 1000000};
  if (argc > 1) {
    sizes.clear();
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
  }
  const std::string folder = std::filesystem::temp_directory_path().string();
  for (long rows : sizes) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) std::_Exit(RunOne(rows, folder));
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("\n%ld rows: the run failed\n", rows);
      return 1;
    }
    std::printf("  peak memory %ld MB\n", usage.ru_maxrss / 1024);
  }
  return 0;
}
