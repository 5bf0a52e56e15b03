// The cut of a county project by a range polygon into a range folder: every
// check first, then the range written in a staging folder beside the range
// folder and moved into it at the end.

#include "platform/gis/project_cut.h"

#include <cpl_conv.h>
#include <fcntl.h>
#include <gdal_priv.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/gis/gis_error.h"
#include "platform/gis/layer_cut.h"
#include "platform/gis/ogr_access.h"
#include "platform/gis/project.h"
#include "platform/gis/spatial_index_build.h"
#include "platform/host/new_entries.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat::gis {
namespace fs = std::filesystem;
namespace {

// What a range folder holds after a cut, beside a copy of the code file.
constexpr const char* kRangeSurvey = "range.gpkg";
constexpr const char* kRangeProject = "range.xml";
// The statistics of a range, made from its layers: those of a former range
// in the folder do not describe the new one.
constexpr const char* kRangeStatistics = "RangeStat.sqlite";

// The absolute form of a path, without a trailing separator ("range/" is
// the folder "range"); an empty path, the folder of a file named without
// one, is the current folder.
fs::path Resolved(const std::string& path) {
  std::error_code ignored;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path.empty() ? "." : path), ignored);
  return resolved.has_filename() ? resolved : resolved.parent_path();
}

// The project's layers, each opened (a layer that cannot be opened raises
// GisError naming it) with its kind.
std::vector<detail::SourceLayer> OpenLayers(CGisXmlPrj& project) {
  std::vector<detail::SourceLayer> layers;
  for (const std::string& name : project.LayerNames()) {
    const LayerHandle handle = project.prjItemGetAi(name);
    layers.push_back({name, &detail::OgrLayerOf(handle), &detail::OgrDatasetOf(handle),
                      detail::RecordNumbers(handle), LayerKind(handle)});
  }
  if (layers.empty()) {
    throw GisError("the project file " + project.GetFilePath() + " lists no layers to cut");
  }
  return layers;
}

// Refuses a range folder that would overwrite what the cut reads: the
// county's own folders, the polygon file.
void CheckRangeFolder(const std::string& range_folder, const CGisXmlPrj& project,
                      const std::string& polygon_path) {
  const fs::path folder = Resolved(range_folder);
  std::error_code ignored;
  if (!folder.has_filename()) {
    throw GisError("the range folder " + range_folder + " is the root of the file system");
  }
  if (fs::exists(folder, ignored) && !fs::is_directory(folder, ignored)) {
    throw GisError("the range folder " + range_folder + " is a file, not a folder");
  }
  std::set<fs::path> county = {Resolved(project.GetFolder())};
  for (const std::string& name : project.LayerNames()) {
    county.insert(Resolved(project.SourceOf(name)).parent_path());
  }
  if (county.count(folder) != 0) {
    throw GisError("the range folder " + range_folder +
                   " holds the county's own files; a range needs a folder of its own");
  }
  const fs::path polygon = Resolved(polygon_path);
  if (polygon == folder / kRangeSurvey || polygon == folder / kRangeProject) {
    throw GisError("the range polygon file " + polygon_path +
                   " would be replaced by the cut; keep it out of the range folder");
  }
}

// Writes a file's data to disk, so that the rename that follows can never
// put an incomplete file in the range.
void SyncFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced) throw GisError("cannot write " + path.string() + " to disk");
}

// A folder beside the range folder that the range is written in; removed
// with what it holds unless published. One cut at a time writes beside a
// range folder: the lock is held on a file beside it (".NAME.cutting.lock",
// left there for good), and the staging folders a killed cut left
// (".NAME.cutting-XXXXXX") are removed by the next.
class StagingFolder {
 public:
  explicit StagingFolder(const std::string& range_folder) : target_(Resolved(range_folder)) {
    std::error_code error;
    fs::create_directories(target_.parent_path(), error);
    const std::string prefix = "." + target_.filename().string() + ".cutting";
    if (error) throw GisError("cannot write beside the range folder " + range_folder);
    Lock(target_.parent_path() / (prefix + ".lock"), range_folder);
    RemoveLeftovers(prefix + "-");
    // As a range folder it is a folder like others: made with the usual
    // permissions.
    std::string pattern = (target_.parent_path() / (prefix + "-XXXXXX")).string();
    if (!host::MakeUniqueFolder(pattern)) {
      Unlock();  // no destructor runs for a constructor that throws
      throw GisError("cannot write beside the range folder " + range_folder);
    }
    path_ = pattern;
  }
  ~StagingFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
    Unlock();
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  fs::path operator/(const std::string& name) const { return path_ / name; }

  // Puts the files written into the range folder: the staging folder itself
  // when there is no range folder yet, else file by file (the project file
  // last), the statistics of the former range removed.
  void Publish(const std::vector<std::string>& files) {
    for (const std::string& file : files) SyncFile(path_ / file);
    std::error_code error;
    if (!fs::exists(target_, error)) {
      fs::rename(path_, target_, error);
      if (error) throw GisError("cannot make the range folder " + target_.string());
      path_.clear();
      return;
    }
    for (const std::string& file : files) {
      fs::rename(path_ / file, target_ / file, error);
      if (error)
        throw GisError("cannot put " + file + " into the range folder " + target_.string());
    }
    fs::remove(target_ / kRangeStatistics, error);
  }

 private:
  void Lock(const fs::path& lock, const std::string& range_folder) {
    lock_fd_ = ::open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (lock_fd_ < 0) throw GisError("cannot write beside the range folder " + range_folder);
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
      Unlock();
      throw GisError("another cut is writing the range folder " + range_folder);
    }
  }

  void Unlock() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
    lock_fd_ = -1;
  }

  void RemoveLeftovers(const std::string& prefix) const {
    std::error_code error;
    std::vector<fs::path> left;
    for (fs::directory_iterator entry(target_.parent_path(), error), end; !error && entry != end;
         entry.increment(error)) {
      if (entry->path().filename().string().rfind(prefix, 0) == 0) left.push_back(entry->path());
    }
    for (const fs::path& path : left) fs::remove_all(path, error);
  }

  fs::path target_;
  fs::path path_;
  int lock_fd_ = -1;
};

// The layers read ahead of the one being cut, each on threads of its own.
constexpr std::size_t kLayersReadAhead = 2;

// The range's GeoPackage: written without waiting for the disk at each
// commit, since it is synced once, whole, before it is moved into place.
std::unique_ptr<GDALDataset> CreateSurvey(const fs::path& path) {
  detail::RegisterGdal();
  CPLConfigOptionSetter no_sync("OGR_SQLITE_SYNCHRONOUS", "OFF", false);
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
  CPLErrorReset();
  std::unique_ptr<GDALDataset> survey(
      driver ? driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr);
  if (!survey) throw GisError("cannot create " + path.string() + ": " + detail::GdalMessage());
  return survey;
}

void CutLayers(const std::vector<detail::SourceLayer>& layers, const detail::RangePolygon& range,
               const fs::path& survey_path, CutReport& report) {
  std::unique_ptr<GDALDataset> survey = CreateSurvey(survey_path);
  const int page_size = detail::PageSizeOf(survey_path.string());
  // The layers' spatial indexes, built while the next layers are cut.
  std::vector<std::future<detail::BuiltIndex>> indexes;
  // The readings of the layer being cut and of the next kLayersReadAhead.
  std::vector<std::unique_ptr<detail::LayerReading>> readings(layers.size());
  for (std::size_t i = 0; i < layers.size(); ++i) {
    const detail::SourceLayer& layer = layers[i];
    // The operator's cancel stops the cut between layers, as a failure.
    if (host::JobCancelled()) throw GisError("作业已取消");
    host::LindoDlgSetProgress("正在裁切" + layer.name, static_cast<long>(i),
                              static_cast<long>(layers.size()));
    for (std::size_t next = i; next < std::min(layers.size(), i + 1 + kLayersReadAhead); ++next) {
      if (!readings[next])
        readings[next] = std::make_unique<detail::LayerReading>(layers[next], range);
    }
    detail::LayerCutCount count = detail::CutLayer(layer, range, *survey, *readings[i]);
    readings[i].reset();
    if (count.index) indexes.push_back(detail::BuildIndexApart(std::move(*count.index), page_size));
    report.per_layer.push_back({layer.name, count.kept, count.skipped});
    report.records_kept += count.kept;
    report.records_skipped += count.skipped;
    for (std::string& problem : count.problems) report.problems.push_back(std::move(problem));
    ++report.layers;
  }
  host::yDebugTime("range layers cut");
  CPLErrorReset();
  survey.reset();
  if (CPLGetLastErrorType() >= CE_Failure) {
    throw GisError("cannot write " + survey_path.string() + ": " + detail::GdalMessage());
  }
  detail::WriteBuiltIndexes(survey_path.string(), indexes);
  host::yDebugTime("range spatial indexes built");
}

// Writes the range's project file, listing the county's layers in the
// range's GeoPackage, and a copy of the code file; gives the files of the
// range, the project file last.
std::vector<std::string> WriteRangeProject(const StagingFolder& staging, const CGisXmlPrj& project,
                                           const std::string& codes) {
  std::vector<std::string> files = {kRangeSurvey};
  const std::string codes_name = codes.empty() ? "" : fs::path(codes).filename().string();
  if (!codes.empty()) {
    std::error_code error;
    fs::copy_file(codes, staging / codes_name, error);
    if (error) throw GisError("cannot copy the code file " + codes + " into the range");
    files.push_back(codes_name);
  }
  std::map<std::string, std::string> sources;
  for (const std::string& name : project.LayerNames()) sources[name] = kRangeSurvey;
  WriteProjectFile((staging / kRangeProject).string(), project.GetCountyCode(),
                   project.GetCountyName(), sources, codes_name, true);
  files.push_back(kRangeProject);
  return files;
}

// Refuses a cut that would keep no record of the layer the range's
// statistics walk first: they would be empty.
void CheckKeeps(const std::vector<detail::SourceLayer>& layers, const detail::RangePolygon& range,
                const std::string& required_layer) {
  for (const detail::SourceLayer& layer : layers) {
    if (layer.name != required_layer || detail::KeepsARecord(layer, range)) continue;
    throw GisError("the range polygon " + range.path + " holds no record of layer \"" +
                   required_layer + "\" of the county");
  }
}

}  // namespace

CutReport CutProject(const std::string& project_path, const std::string& polygon_path,
                     const std::string& range_folder, const std::string& required_layer) {
  if (project_path.empty()) throw GisError("no county project file was given to cut");
  if (polygon_path.empty()) throw GisError("no range polygon file was given");
  if (range_folder.empty()) throw GisError("no range folder was given");
  std::unique_ptr<CGisXmlPrj> project = CGisXmlPrj::Open(project_path);
  if (!required_layer.empty() && !project->HasLayer(required_layer)) {
    throw GisError("the project file " + project_path + " has no layer \"" + required_layer + "\"");
  }
  const std::vector<detail::SourceLayer> layers = OpenLayers(*project);
  const detail::RangePolygon range = detail::ReadRangePolygon(polygon_path);
  for (const detail::SourceLayer& layer : layers) detail::CheckRangeFits(layer, range);
  CheckKeeps(layers, range, required_layer);
  const std::string codes = project->GetCodeFile();
  std::error_code ignored;
  if (!codes.empty() && !fs::is_regular_file(codes, ignored)) {
    throw GisError("the code file " + codes + " that " + project_path + " names is missing");
  }
  CheckRangeFolder(range_folder, *project, polygon_path);

  StagingFolder staging(range_folder);
  CutReport report;
  CutLayers(layers, range, staging / kRangeSurvey, report);
  const std::vector<std::string> files = WriteRangeProject(staging, *project, codes);
  project.reset();  // closes the county's layers
  staging.Publish(files);
  report.project_path = (fs::path(range_folder) / kRangeProject).string();
  return report;
}

std::string NotACutRange(const CGisXmlPrj& project) {
  const std::string file = project.GetFilePath();
  // Ranges cut before the project file carried its mark are known by the
  // names a cut gives its files.
  const bool cut_by_name = fs::path(file).filename() == kRangeProject;
  if (!project.IsCutRange() && !cut_by_name) {
    return "the project file " + file + " is no range cut out of a county";
  }
  const fs::path survey = Resolved((fs::path(project.GetFolder()) / kRangeSurvey).string());
  for (const std::string& name : project.LayerNames()) {
    if (Resolved(project.SourceOf(name)) != survey) {
      return "the range project " + file + " lists layer \"" + name + "\" outside its own " +
             kRangeSurvey;
    }
  }
  return {};
}

}  // namespace landstat::gis
