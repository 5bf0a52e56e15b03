#include "platform/gis/attribute_expression.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "platform/gis/gis_error.h"

namespace landstat::gis {

enum class CompareOp { kEqual, kNotEqual, kLess, kLessEqual, kGreater, kGreaterEqual };

struct AttributeExpression::Node {
  enum class Kind { kAnd, kOr, kCompare } kind = Kind::kCompare;
  // The terms of "&&" and "||", kept side by side rather than nested, so
  // that the tree is only as deep as the parentheses.
  std::vector<std::shared_ptr<const Node>> parts;
  std::string field;
  CompareOp op = CompareOp::kEqual;
  std::string text;  // the quoted text, or the number as written
  bool numeric = false;
  double number = 0;
};

namespace {

using Node = AttributeExpression::Node;

// Parentheses nest at most this deep: an expression is a line a person
// wrote, and the bound keeps the recursion from running away.
constexpr int kMostNesting = 64;

struct OperatorText {
  std::string_view text;
  CompareOp op;
};
// Longer forms first, so that "<=" is not read as "<".
constexpr OperatorText kOperators[] = {
    {"==", CompareOp::kEqual},     {"!=", CompareOp::kNotEqual},     {"<>", CompareOp::kNotEqual},
    {"<=", CompareOp::kLessEqual}, {">=", CompareOp::kGreaterEqual}, {"=", CompareOp::kEqual},
    {"<", CompareOp::kLess},       {">", CompareOp::kGreater},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EndsName(char c) {
  return c == '=' || c == '!' || c == '<' || c == '>' || c == '(' || c == ')' || c == '&' ||
         c == '|' || c == '\'' || c == '"';
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::shared_ptr<const Node> Whole() {
    std::shared_ptr<const Node> root = Or(0);
    SkipBlanks();
    if (at_ < text_.size()) Fail("unexpected text");
    return root;
  }

 private:
  std::shared_ptr<const Node> Or(int depth) {
    return Joined(Node::Kind::kOr, "||", [&] { return And(depth); });
  }

  std::shared_ptr<const Node> And(int depth) {
    return Joined(Node::Kind::kAnd, "&&", [&] { return Term(depth); });
  }

  std::shared_ptr<const Node> Term(int depth) {
    if (!Take("(")) return Comparison();
    if (depth >= kMostNesting) Fail("parentheses nested too deep");
    std::shared_ptr<const Node> node = Or(depth + 1);
    if (!Take(")")) Fail("a \")\" is missing");
    return node;
  }

  std::shared_ptr<const Node> Comparison() {
    auto node = std::make_shared<Node>();
    node->field = Name();
    node->op = Operator();
    SkipBlanks();
    if (at_ < text_.size() && (text_[at_] == '\'' || text_[at_] == '"')) {
      node->text = Quoted();
    } else {
      node->text = Name();
      char* end = nullptr;
      node->number = std::strtod(node->text.c_str(), &end);
      if (!end || *end != '\0')
        Fail("\"" + node->text + "\" is neither a quoted text nor a number");
      node->numeric = true;
    }
    return node;
  }

  std::string Name() {
    SkipBlanks();
    const std::size_t start = at_;
    while (at_ < text_.size() && !EndsName(text_[at_])) ++at_;
    std::string_view name = text_.substr(start, at_ - start);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    if (name.empty()) Fail("a field name or a number is missing");
    return std::string(name);
  }

  CompareOp Operator() {
    SkipBlanks();
    for (const OperatorText& candidate : kOperators) {
      if (text_.substr(at_, candidate.text.size()) == candidate.text) {
        at_ += candidate.text.size();
        return candidate.op;
      }
    }
    Fail("a comparison operator is missing");
    return CompareOp::kEqual;
  }

  // A quoted text; the quote doubled stands for itself.
  std::string Quoted() {
    const char quote = text_[at_++];
    std::string value;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c != quote) {
        value += c;
      } else if (at_ < text_.size() && text_[at_] == quote) {
        value += quote;
        ++at_;
      } else {
        return value;
      }
    }
    Fail("a quoted text is not closed");
    return value;
  }

  bool Take(std::string_view token) {
    SkipBlanks();
    if (text_.substr(at_, token.size()) != token) return false;
    at_ += token.size();
    return true;
  }

  void SkipBlanks() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
  }

  // One term, or the terms joined by `token` under one node of `kind`.
  template <typename Next>
  std::shared_ptr<const Node> Joined(Node::Kind kind, std::string_view token, Next next) {
    std::shared_ptr<const Node> first = next();
    if (!Take(token)) return first;
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->parts.push_back(std::move(first));
    do {
      node->parts.push_back(next());
    } while (Take(token));
    return node;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw GisError("the attribute expression \"" + std::string(text_) + "\" cannot be read at " +
                   "character " + std::to_string(at_ + 1) + ": " + what);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

template <typename T>
bool Compare(const T& a, CompareOp op, const T& b) {
  switch (op) {
    case CompareOp::kEqual:
      return a == b;
    case CompareOp::kNotEqual:
      return !(a == b);
    case CompareOp::kLess:
      return a < b;
    case CompareOp::kLessEqual:
      return a <= b;
    case CompareOp::kGreater:
      return a > b;
    case CompareOp::kGreaterEqual:
      return a >= b;
  }
  return false;
}

bool CompareField(const Node& node, const std::string& value) {
  if (!node.numeric) return Compare(value, node.op, node.text);
  if (value.empty()) return Compare(0.0, node.op, node.number);
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  while (end && IsBlank(*end)) ++end;
  if (!end || *end != '\0') return false;
  return Compare(number, node.op, node.number);
}

// Recursion only as deep as the parentheses nest (kMostNesting).
bool Evaluate(const Node& node, const std::function<std::string(std::string_view)>& field_text) {
  const auto holds = [&](const std::shared_ptr<const Node>& part) {
    return Evaluate(*part, field_text);
  };
  switch (node.kind) {
    case Node::Kind::kAnd:
      return std::all_of(node.parts.begin(), node.parts.end(), holds);
    case Node::Kind::kOr:
      return std::any_of(node.parts.begin(), node.parts.end(), holds);
    case Node::Kind::kCompare:
      return CompareField(node, field_text(node.field));
  }
  return false;
}

void CollectFields(const Node& node, std::vector<std::string>& fields) {
  if (node.kind != Node::Kind::kCompare) {
    for (const auto& part : node.parts) CollectFields(*part, fields);
  } else if (std::find(fields.begin(), fields.end(), node.field) == fields.end()) {
    fields.push_back(node.field);
  }
}

}  // namespace

AttributeExpression AttributeExpression::Parse(std::string_view text) {
  AttributeExpression expression;
  if (std::all_of(text.begin(), text.end(), IsBlank)) return expression;
  expression.root_ = Parser(text).Whole();
  return expression;
}

bool AttributeExpression::Matches(
    const std::function<std::string(std::string_view)>& field_text) const {
  return !root_ || Evaluate(*root_, field_text);
}

bool AttributeExpression::Matches(const Record& record) const {
  return Matches([&](std::string_view field) { return record.Text(field); });
}

std::vector<std::string> AttributeExpression::Fields() const {
  std::vector<std::string> fields;
  if (root_) CollectFields(*root_, fields);
  return fields;
}

namespace {

void RequireField(LayerHandle layer, std::string_view field) {
  if (!HasField(layer, field)) {
    throw GisError("layer \"" + LayerName(layer) + "\" has no field \"" + std::string(field) +
                   "\"");
  }
}

// Parses the expression and checks that the layer has every field it names.
AttributeExpression ExpressionOn(LayerHandle layer, std::string_view text) {
  AttributeExpression expression = AttributeExpression::Parse(text);
  for (const std::string& field : expression.Fields()) RequireField(layer, field);
  return expression;
}

// Calls `visit` with every record of `kind` the expression selects, read
// without its geometry: the walks here judge and write fields only. With
// `fields`, only those are read (records that are not written back).
template <typename Visit>
void EachSelected(LayerHandle layer, EntityKind kind, const AttributeExpression& expression,
                  Visit visit, std::span<const char* const> fields = {}) {
  const long count = RecordCount(layer, kind);
  Record record;
  for (long number = 1; number < count; ++number) {
    if (ReadRecord(layer, kind, number, record, RecordParts::kFields, fields) &&
        expression.Matches(record)) {
      visit(record);
    }
  }
}

}  // namespace

std::vector<long> SelectByExpression(LayerHandle layer, EntityKind kind,
                                     std::string_view expression) {
  std::vector<long> numbers;
  const AttributeExpression selection = ExpressionOn(layer, expression);
  // Only the fields the expression judges are read (all for none).
  const std::vector<std::string> judged = selection.Fields();
  std::vector<const char*> fields;
  for (const std::string& field : judged) fields.push_back(field.c_str());
  EachSelected(
      layer, kind, selection, [&](const Record& record) { numbers.push_back(record.Number()); },
      fields);
  return numbers;
}

long UpdateByExpression(LayerHandle layer, EntityKind kind, std::string_view expression,
                        std::string_view field, std::string_view text) {
  RequireField(layer, field);
  long written = 0;
  EachSelected(layer, kind, ExpressionOn(layer, expression), [&](Record& record) {
    record.SetText(field, text);
    if (!record.Changed()) return;  // a record that keeps its value is not written again
    WriteRecord(layer, record);
    ++written;
  });
  return written;
}

long DeleteByExpression(LayerHandle layer, EntityKind kind, std::string_view expression) {
  // Chosen first, deleted after: deleting during the walk would move it.
  const std::vector<long> chosen = SelectByExpression(layer, kind, expression);
  for (long number : chosen) DeleteRecord(layer, number);
  return static_cast<long>(chosen.size());
}

long CopyField(LayerHandle layer, EntityKind kind, std::string_view source,
               std::string_view target) {
  RequireField(layer, source);
  RequireField(layer, target);
  long written = 0;
  EachSelected(layer, kind, AttributeExpression(), [&](Record& record) {
    record.SetText(target, record.Text(source));
    if (!record.Changed()) return;
    WriteRecord(layer, record);
    ++written;
  });
  return written;
}

}  // namespace landstat::gis
