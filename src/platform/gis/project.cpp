#include "platform/gis/project.h"

#include <filesystem>
#include <pugixml.hpp>
#include <string_view>

#include "platform/gis/gis_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/xml_file.h"

namespace landstat::gis {
namespace fs = std::filesystem;

struct CGisXmlPrj::Document {
  pugi::xml_document xml;
  pugi::xml_node root;
};

CGisXmlPrj::~CGisXmlPrj() {
  CloseLayers();
}

std::unique_ptr<CGisXmlPrj> CGisXmlPrj::Open(const std::string& path) {
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) {
    throw GisError("the project file " + path + " is a folder, not a file");
  }
  if (!fs::exists(path, ignored)) throw GisError("the project file " + path + " is missing");
  std::unique_ptr<CGisXmlPrj> project(new CGisXmlPrj());
  project->path_ = path;
  project->document_ = std::make_unique<Document>();
  const pugi::xml_parse_result parsed = host::LoadXmlFile(project->document_->xml, path);
  if (!parsed) {
    throw GisError("cannot read the project file " + path + ": " + parsed.description() +
                   (parsed.status == pugi::status_file_not_found
                        ? std::string()
                        : " at byte " + std::to_string(parsed.offset)));
  }
  project->document_->root = project->document_->xml.child("GisProject");
  if (!project->document_->root) {
    throw GisError("the project file " + path + " has no <GisProject> element");
  }
  const std::string county = project->GetCountyCode();
  if (!county.empty() && !host::IsCountyCode(county)) {
    throw GisError("the project file " + path + " gives the county code (sCode) '" + county +
                   "', which is not six digits");
  }
  for (pugi::xml_node layer : project->document_->root.children("Layer")) {
    const std::string name = layer.attribute("name").as_string();
    const std::string source = layer.attribute("source").as_string();
    if (name.empty() || source.empty()) {
      throw GisError("the project file " + path + " lists a layer without a name or a source");
    }
    const std::string table = layer.attribute("table").as_string(name.c_str());
    project->layers_[name] = {source, table, 0};
  }
  return project;
}

std::string CGisXmlPrj::GetFolder() const {
  return fs::path(path_).parent_path().string();
}

bool CGisXmlPrj::HasLayer(const std::string& name) const {
  return layers_.count(name) != 0;
}

std::string CGisXmlPrj::SourceOf(const std::string& name) const {
  auto found = layers_.find(name);
  if (found == layers_.end()) return {};
  const fs::path source(found->second.source);
  return (source.is_relative() ? fs::path(GetFolder()) / source : source).string();
}

std::string CGisXmlPrj::TableOf(const std::string& name) const {
  auto found = layers_.find(name);
  return found == layers_.end() ? std::string() : found->second.table;
}

std::vector<std::string> CGisXmlPrj::LayerNames() const {
  std::vector<std::string> names;
  for (const auto& [name, entry] : layers_) names.push_back(name);
  return names;
}

LayerHandle CGisXmlPrj::prjItemGetAi(const std::string& name) {
  return OpenEntry(name, false);
}

LayerHandle CGisXmlPrj::prjItemGetAiForWriting(const std::string& name) {
  return OpenEntry(name, true);
}

LayerHandle CGisXmlPrj::OpenEntry(const std::string& name, bool writable) {
  auto found = layers_.find(name);
  if (found == layers_.end()) return 0;
  LayerEntry& entry = found->second;
  const bool open = entry.handle > 0 && LayerSerial(entry.handle) == entry.serial;
  if (open && (entry.writable || !writable)) return entry.handle;
  if (open) CloseLayer(entry.handle);
  try {
    entry.handle = OpenLayer(SourceOf(name), entry.table, writable);
    entry.serial = LayerSerial(entry.handle);
    entry.writable = writable;
  } catch (const GisError& error) {
    entry.handle = 0;
    throw GisError("project " + path_ + ", layer \"" + name + "\": " + error.what());
  }
  return entry.handle;
}

void CGisXmlPrj::CloseLayers() {
  for (auto& [name, entry] : layers_) {
    // Only a layer this project opened, still open under its handle.
    if (entry.handle > 0 && LayerSerial(entry.handle) == entry.serial) CloseLayer(entry.handle);
    entry.handle = 0;
  }
}

std::string CGisXmlPrj::GetCountyCode() const {
  return document_->root.attribute("sCode").as_string();
}

std::string CGisXmlPrj::GetCountyName() const {
  return document_->root.attribute("name").as_string();
}

void CGisXmlPrj::SetCountyCode(const std::string& code) {
  if (!host::IsCountyCode(code)) {
    throw GisError("the county code '" + code + "' for " + path_ + " is not six digits");
  }
  pugi::xml_attribute attribute = document_->root.attribute("sCode");
  if (!attribute) attribute = document_->root.append_attribute("sCode");
  attribute.set_value(code.c_str());
}

std::string CGisXmlPrj::GetCodeFile() const {
  const std::string codes = document_->root.attribute("codes").as_string();
  if (codes.empty()) return {};
  const fs::path path(codes);
  return path.is_relative() ? (fs::path(GetFolder()) / path).string() : codes;
}

bool CGisXmlPrj::IsCutRange() const {
  return std::string_view(document_->root.attribute("range").as_string()) == "cut";
}

void CGisXmlPrj::Save() const {
  if (!document_->xml.save_file(path_.c_str(), "  ")) {
    throw GisError("cannot write the project file " + path_);
  }
}

void WriteProjectFile(const std::string& path, const std::string& county_code,
                      const std::string& county_name,
                      const std::map<std::string, std::string>& layers,
                      const std::string& code_file, bool cut_range) {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = document.append_child("GisProject");
  root.append_attribute("sCode") = county_code.c_str();
  root.append_attribute("name") = county_name.c_str();
  if (!code_file.empty()) root.append_attribute("codes") = code_file.c_str();
  if (cut_range) root.append_attribute("range") = "cut";
  for (const auto& [name, source] : layers) {
    pugi::xml_node layer = root.append_child("Layer");
    layer.append_attribute("name") = name.c_str();
    layer.append_attribute("source") = source.c_str();
  }
  if (!document.save_file(path.c_str(), "  ")) {
    throw GisError("cannot write the project file " + path);
  }
}

}  // namespace landstat::gis
