// Reading a JSON tape: its nodes, their conversion to Json, and the writers
// that print them.

#include <algorithm>

#include "core/json_internal.h"
#include "core/json_tape.h"

namespace vellumo {

JsonNode JsonTape::root() const { return JsonNode(this, root_); }

void JsonTape::narrow_to(const JsonNode& node) { root_ = node.index_; }

std::string_view JsonNode::string() const {
  const auto& t = token();
  return t.kind == JsonKind::String ? tape_->text_at(static_cast<std::uint32_t>(t.data), t.size)
                                    : std::string_view();
}

std::size_t JsonNode::size() const {
  const auto& t = token();
  return t.kind == JsonKind::Array || t.kind == JsonKind::Object ? t.size : 0;
}

JsonNode::Range<JsonNode::ItemIterator> JsonNode::items() const {
  const auto& t = token();
  if (t.kind != JsonKind::Array) {
    return {ItemIterator(tape_, index_), ItemIterator(tape_, index_)};
  }
  return {ItemIterator(tape_, index_ + 1), ItemIterator(tape_, static_cast<std::uint32_t>(t.data))};
}

JsonNode::Range<JsonNode::MemberIterator> JsonNode::members() const {
  const auto& t = token();
  if (t.kind != JsonKind::Object) {
    return {MemberIterator(tape_, nullptr), MemberIterator(tape_, nullptr)};
  }
  const JsonTape::Member* first = tape_->members_.data() + (t.data >> 32);
  return {MemberIterator(tape_, first), MemberIterator(tape_, first + t.size)};
}

std::optional<JsonNode> JsonNode::find(std::string_view key) const {
  const auto range = members();
  const JsonTape::Member* first = range.first.member_;
  const JsonTape::Member* last = range.last.member_;
  const auto* it =
      std::lower_bound(first, last, key, [&](const JsonTape::Member& m, std::string_view k) {
        return tape_->text_at(m.key, m.key_size) < k;
      });
  if (it == last || tape_->text_at(it->key, it->key_size) != key) {
    return std::nullopt;
  }
  return JsonNode(tape_, it->value);
}

Json JsonNode::to_json() const {
  const auto& t = token();
  switch (t.kind) {
    case JsonKind::Null:
      return Json(nullptr);
    case JsonKind::False:
      return Json(false);
    case JsonKind::True:
      return Json(true);
    case JsonKind::Integer:
      return Json(integer());
    case JsonKind::Unsigned:
      return Json(unsigned_integer());
    case JsonKind::Float:
      return Json(number());
    case JsonKind::String:
      return Json(std::string(string()));
    case JsonKind::Array: {
      Json array = Json::array();
      auto& items = array.get_ref<Json::array_t&>();
      items.reserve(t.size);
      for (const JsonNode item : this->items()) {
        items.push_back(item.to_json());
      }
      return array;
    }
    case JsonKind::Object: {
      Json object = Json::object();
      auto& members = object.get_ref<Json::object_t&>();
      for (const auto& [key, value] : this->members()) {
        members.emplace_hint(members.end(), std::string(key), value.to_json());
      }
      return object;
    }
  }
  return Json(nullptr);
}

namespace json_internal {

template <>
struct Access<JsonNode> {
  static void write(Writer<JsonNode>& w, const JsonNode& v, int depth) {
    switch (v.kind()) {
      case JsonKind::Null:
        w.null();
        break;
      case JsonKind::False:
        w.boolean(false);
        break;
      case JsonKind::True:
        w.boolean(true);
        break;
      case JsonKind::Integer:
        w.integer(v.integer());
        break;
      case JsonKind::Unsigned:
        w.integer(v.unsigned_integer());
        break;
      case JsonKind::Float:
        w.number(v.number());
        break;
      case JsonKind::String:
        w.string(v.string());
        break;
      case JsonKind::Array:
        w.array(v.items(), depth);
        break;
      case JsonKind::Object:
        w.object(v.members(), depth);
        break;
    }
  }
};

}  // namespace json_internal

void write_json_pretty(std::string& out, const JsonNode& value, const JsonDrain& drain) {
  json_internal::Writer<JsonNode>(out, drain, true).value(value, 0);
}

void write_json_compact(std::string& out, const JsonNode& value, const JsonDrain& drain) {
  json_internal::Writer<JsonNode>(out, drain, false).value(value, 0);
}

Json pick_members(const std::optional<JsonNode>& object,
                  std::initializer_list<std::string_view> names) {
  Json picked = Json::object();
  for (const std::string_view name : names) {
    const auto value = object ? object->find(name) : std::nullopt;
    picked[std::string(name)] = value ? value->to_json() : Json(nullptr);
  }
  return picked;
}

}  // namespace vellumo
