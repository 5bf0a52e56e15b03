#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gis/layers.h"

namespace landstat::gis {

// A condition on the attributes of one record, in the layer library's
// expression form: comparisons of a field with a quoted text or a number,
// joined by "&&" and "||" ("&&" binds tighter) and grouped by parentheses.
//
//   图斑编号1==''&&图斑编号2==''
//   图斑地类面积<=0.00001
//   (地类编码=="011"||地类编码=="012")&&扣除地类系数>0
//
// Operators: == (also =), != (also <>), <, <=, >, >=. A text is quoted with
// ' or "; the same quote inside it is written twice ('O''Neil'). A field is
// named by the characters up to the operator, blanks around it dropped.
// Against a quoted text the field's text is compared byte for byte; against
// a number the field's value is (an empty text reads as 0, a text that is no
// number never matches). The expression is evaluated here on the records
// read; it is never handed to a database or to OGR's SQL.
class AttributeExpression {
 public:
  // Parses `text`; raises GisError naming the expression and the place
  // where it stops making sense. An empty or blank text selects every
  // record.
  static AttributeExpression Parse(std::string_view text);

  // Whether a record whose fields read as `field_text` gives meets the
  // condition.
  bool Matches(const std::function<std::string(std::string_view)>& field_text) const;
  bool Matches(const Record& record) const;
  // The fields the expression names, each once, in the order they appear.
  std::vector<std::string> Fields() const;

  struct Node;

 private:
  std::shared_ptr<const Node> root_;  // null: every record
};

// The records of `kind` of a layer that the expression selects, in
// ascending order. A field the layer lacks raises GisError naming it.
std::vector<long> SelectByExpression(LayerHandle layer, EntityKind kind,
                                     std::string_view expression);
// Sets `field` := `text` on every record the expression selects; gives how
// many were written (a record that holds that value already is not).
long UpdateByExpression(LayerHandle layer, EntityKind kind, std::string_view expression,
                        std::string_view field, std::string_view text);
// Deletes the records the expression selects; gives how many.
long DeleteByExpression(LayerHandle layer, EntityKind kind, std::string_view expression);
// On every record of `kind`, `target` takes the text of `source`; gives how
// many records were written (those whose `target` held it already are not).
// A missing field raises GisError naming it.
long CopyField(LayerHandle layer, EntityKind kind, std::string_view source,
               std::string_view target);

}  // namespace landstat::gis
