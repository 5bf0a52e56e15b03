#include "ui/house_model_start.h"

#include <QProcess>
#include <QStringList>
#include <filesystem>

#include "platform/gis/gis_error.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"

namespace landstat {
namespace {

constexpr char kHouseLayer[] = "房屋层";

bool Refuse(const std::string& message) {
  host::AfxMessageBox(message);
  return false;
}

std::string SettingName() {
  return std::string("host.ini 的 [") + kHouseModelSection + "] " + kHouseModelKey;
}

}  // namespace

std::string HouseModelArgument(const gis::CGisXmlPrj& project) {
  std::string argument;
  for (const char* layer : {kHouseLayer, "草坪", "道路", "树"}) {
    argument += project.SourceOf(layer) + "|";
  }
  return argument;
}

bool StartHouseModel(gis::CGisXmlPrj& project) {
  gis::LayerHandle houses = 0;
  try {
    houses = project.prjItemGetAi(kHouseLayer);
  } catch (const gis::GisError& error) {
    return Refuse(error.what());
  }
  if (houses <= 0) return Refuse("房屋层工作区不存在！");
  // A layer without records counts 1.
  if (gis::RecordCount(houses, gis::EntityKind::kRegion) <= 1) {
    return Refuse("房屋层工作区没有实体！");
  }
  const std::string program = host::LindoReadINI(kHouseModelSection, kHouseModelKey);
  if (program.empty()) return Refuse("没有设置三维模型程序: 请在 " + SettingName() + " 中给出");
  std::error_code error;
  if (!std::filesystem::is_regular_file(program, error)) {
    return Refuse("三维模型程序 " + program + " 不存在 (" + SettingName() + ")");
  }
  // Mended: the program was started through a command line in which its
  // path stood unquoted, so a path with blanks started another program.
  // It starts without a shell, the program and its argument apart.
  const QStringList arguments{QString::fromStdString(HouseModelArgument(project))};
  if (!QProcess::startDetached(QString::fromStdString(program), arguments)) {
    return Refuse("三维模型程序 " + program + " 不能启动 (" + SettingName() + ")");
  }
  return true;
}

}  // namespace landstat
