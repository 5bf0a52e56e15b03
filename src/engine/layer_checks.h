#pragma once

// The checks every walk over a survey layer makes, in one place: the fields
// the walk needs, before it starts, and each value as it is read. A value
// refused is logged with the layer, the record, the field and the value,
// and the walk leaves its piece out and goes on.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "platform/gis/layers.h"
#include "platform/host/progress.h"

namespace landstat {

// The largest area one piece may have, in square metres: 1e10 m² is
// 10,000 km², more than any county. A larger figure is a no-data value
// (3.4e38 is a common one) or an area in the wrong unit, and summed it would
// swamp every total of the county.
inline constexpr double kMostPieceArea = 1e10;

// An area's text as a number, when it is one a piece may have (see
// LayerChecks::Area); otherwise nothing.
std::optional<double> CountableArea(const std::string& text);

// A field a walk reads that only some tables need: the families of those
// tables, by base name. `version_word`, when given: only in the runs whose
// version string holds it.
struct FieldNeed {
  const char* field;
  std::vector<const char*> tables;
  const char* version_word = nullptr;
};

// The layers of a fill that are there, in the fill's order, with their
// walks as stages of the progress in `walks`, each weighed by its records.
// A `Use` names its layer (a member of `Context`), the kind of its features
// and the progress text of its walk.
template <typename Use, typename Context>
std::vector<const Use*> WalkedLayers(const Context& context, std::span<const Use> uses,
                                     std::vector<host::JobStages::Stage>& walks) {
  std::vector<const Use*> walked;
  for (const Use& use : uses) {
    const gis::LayerHandle layer = context.*use.layer;
    if (layer <= 0 || !gis::IsLayerValid(layer)) continue;
    walked.push_back(&use);
    walks.push_back({use.progress, static_cast<double>(gis::RecordCount(layer, use.kind))});
  }
  return walked;
}

class LayerChecks {
 public:
  // `report` false: the walk repeats an earlier walk over the same layer,
  // which logged what it refused; this one refuses the same, silently.
  LayerChecks(StatRunLog& log, gis::LayerHandle layer, bool report = true);

  const std::string& Name() const { return name_; }
  gis::LayerHandle Layer() const { return layer_; }

  // True when the layer has every one of `fields`; else one failure
  // "图层 <layer> 缺少字段 <field>" with `message`, naming the first one
  // missing, and false: the walk must not start.
  bool HasFields(std::initializer_list<const char*> fields, const std::string& message);
  bool HasFields(std::span<const std::string> fields, const std::string& message);
  // The needs whose field the layer lacks.
  std::vector<const FieldNeed*> Lacking(std::span<const FieldNeed> needs) const;
  // The failure "图层 <layer> 缺少字段 <field>" with `message`.
  void LogLacking(const std::string& field, const std::string& message);

  // Notes the records whose numeric `field` holds text the source reads as
  // some number all the same, so that the text is judged, not that number.
  void WatchNumbers(const std::string& field);
  // The same for several fields, in one pass over the layer where it can.
  void WatchNumbersOf(const std::vector<std::string>& fields);
  // The field's text as the source holds it (see WatchNumbers).
  std::string StoredText(const gis::Record& record, const std::string& field, int index = -1) const;

  // An area field as a number. A missing area, or one that is no number,
  // negative, not finite or above kMostPieceArea, is logged and gives
  // nothing: the piece is not counted. An empty text of an area that is not
  // `required` gives 0, unlogged.
  std::optional<double> Area(const gis::Record& record, const std::string& field, int index = -1,
                             bool required = true);

  // A code field's text; an empty one is logged and gives nothing.
  std::optional<std::string> Code(const gis::Record& record, const std::string& field);

  // Whether a linear feature is halved between its two sides: its ratio
  // `field` is 0.5. Any other ratio books it whole to side 1; one that is
  // not 1 (no number included) is logged.
  bool HalvedLine(const gis::Record& record, const std::string& field);

  // A coefficient field (a deduction's share): 0 for an empty text. One
  // that is no number, negative or not finite is logged and gives nothing.
  std::optional<double> Coefficient(const gis::Record& record, const std::string& field);

  // A slope grade field: 1 to 5, as SlopeGradeOf reads it or as a whole
  // number ("2.0"); 0 (no grade) for an empty text. Any other text is
  // logged and gives 0: the piece is kept without a grade.
  int SlopeGrade(const gis::Record& record, const std::string& field);

  // Whether `value` is one of `words`. When it is not: with `leave_out` a
  // failure and false; else a notice, once per field and value in the walk,
  // and true (the piece is kept).
  bool InVocabulary(const gis::Record& record, const std::string& field, const std::string& value,
                    std::span<const char* const> words, bool leave_out);
  // Whether `value` has `length` characters; otherwise as InVocabulary.
  bool HasLength(const gis::Record& record, const std::string& field, const std::string& value,
                 std::size_t length, bool leave_out);
  // Whether `value` has no more than `most` characters (the width of the
  // column it goes to); a longer one is a failure.
  bool Fits(const gis::Record& record, const std::string& field, const std::string& value,
            std::size_t most);

  // "图层 <layer> 记录 <number>", for the failures of one record.
  std::string RecordName(const gis::Record& record) const;
  std::string RecordName(long number) const;
  // Logs a failure of one field of one record (of the record as a whole
  // when `field` is empty).
  void Fail(const gis::Record& record, const std::string& field, const std::string& message);
  // Logs a notice of one field of one record, once per `key` in the walk.
  void NoticeOnce(const gis::Record& record, const std::string& field, const std::string& key,
                  const std::string& message);

  // Hands `book` every record of `kind` that can be read, numbered from 1
  // up to the layer's count, with the `parts` of it that `book` reads. The
  // operator's cancel is heard at each record: it ends the job
  // (StatRunLog::EndIfStopped).
  template <typename Book>
  void Walk(gis::EntityKind kind, const Book& book,
            gis::RecordParts parts = gis::RecordParts::kAll) const {
    const long count = gis::RecordCount(layer_, kind);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (host::JobCancelled()) log_.EndIfStopped(name_);
      if (gis::ReadRecord(layer_, kind, number, record, parts)) book(record);
    }
  }

 private:
  bool Refuse(const gis::Record& record, const std::string& field, const std::string& value,
              const std::string& problem, bool leave_out);

  StatRunLog& log_;
  const gis::LayerHandle layer_;
  const std::string name_;
  const bool report_;
  gis::StoredFieldTexts stored_texts_;
  std::set<std::string> noticed_;
};

}  // namespace landstat
