#include "report/balance_struct.h"

#include <algorithm>

#include "platform/host/ini_file.h"
#include "platform/host/paths.h"
#include "platform/text/ascii_text.h"

namespace landstat::report {

namespace {

// The labels of the fixed records, in record order.
const char* const kFixedLabels[] = {"上年末面积", "本年减少",   "本年增加",
                                    "本年末面积", "本年末国有", "本年末集体"};

bool IsLandClass(const gis::CODESTRUCT& entry) {
  return entry.type.find("地类代码") != std::string::npos;
}

// The record `number` with `texts` set field by field.
void WriteTexts(gis::LayerHandle table, long number,
                const std::vector<std::pair<const char*, std::string>>& texts) {
  gis::Record record;
  gis::ReadRecord(table, gis::EntityKind::kTable, number, record);
  for (const auto& [field, text] : texts) record.SetText(field, text);
  gis::WriteRecord(table, record);
}

}  // namespace

std::string BalanceClassKey(const std::string& code, short level) {
  return "D" +
         text::ToUpperAscii(code.substr(0, static_cast<std::size_t>(std::max<short>(level, 0))));
}

std::vector<std::string> BalanceClassKeys(const gis::RuralCode& codes, short level) {
  std::vector<gis::CODESTRUCT> entries;
  codes.GetCode(nullptr, &entries, 0, "");
  std::vector<std::string> keys;
  for (const gis::CODESTRUCT& entry : entries) {
    if (!IsLandClass(entry) || entry.code.empty()) continue;
    const std::string key = BalanceClassKey(entry.code, level);
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  return keys;
}

short GetTableLandLevel(short* level) {
  const host::IniFile config = host::IniFile::Load(host::StatConfigPath());
  *level = config.Get("BALANCE", "Level", "2") == "3" ? kBalanceLevelSecond : kBalanceLevelFirst;
  return 1;
}

short BuildBalanceStruct(const gis::RuralCode* codes, gis::LayerHandle table, short level) {
  if (codes == nullptr || !gis::IsLayerValid(table)) return 0;
  const std::vector<std::string> keys = BalanceClassKeys(*codes, level);
  gis::AddField(table, {kBalanceKeyField, gis::FieldType::kText, 20, 0});
  gis::AddField(table, {kBalanceLabelField, gis::FieldType::kText, 60, 0});
  for (const std::string& key : keys) gis::AddField(table, {key, gis::FieldType::kDouble, 20, 5});
  gis::AddField(table, {kBalanceTotalField, gis::FieldType::kDouble, 20, 5});
  gis::AddField(table, {kBalanceOwnerField, gis::FieldType::kText, 19, 0});
  std::vector<std::pair<const char*, std::string>> zeros;
  for (const std::string& key : keys) zeros.emplace_back(key.c_str(), "0");
  zeros.emplace_back(kBalanceTotalField, "0");
  const auto add = [&](const std::string& key, const std::string& label) {
    std::vector<std::pair<const char*, std::string>> texts = zeros;
    texts.emplace_back(kBalanceKeyField, key);
    texts.emplace_back(kBalanceLabelField, label);
    WriteTexts(table, gis::AddRecord(table), texts);
  };
  for (const char* label : kFixedLabels) add("", label);
  for (const std::string& key : keys) {
    std::string name;
    codes->GetCode("地类代码", key.substr(1).c_str(), "代码名称", name);
    add(key, name.empty() ? key : name);
  }
  return 1;
}

}  // namespace landstat::report
