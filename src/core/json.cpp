#include "core/json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace vellumo {
namespace {

// Builds the value tree from the parser's events, refusing duplicate
// members and deep nesting as soon as they are seen.
class StrictTreeBuilder final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return add(Json(nullptr)); }
  bool boolean(bool value) override { return add(Json(value)); }
  bool number_integer(number_integer_t value) override { return add(Json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return add(Json(value)); }
  bool number_float(number_float_t value, const string_t&) override { return add(Json(value)); }
  bool string(string_t& value) override { return add(Json(std::move(value))); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }

  bool start_object(std::size_t) override { return open(Json::value_t::object); }
  bool start_array(std::size_t) override { return open(Json::value_t::array); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    Json& object = *open_.back();
    auto [slot, inserted] = object.get_ref<Json::object_t&>().try_emplace(name);
    if (!inserted) {
      std::string message = "duplicate member ";
      write_json_string(message, name);
      return fail(std::move(message));
    }
    member_ = &slot->second;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // Drop the library's "[json.exception.parse_error.101] " tag; the rest
    // names the line, the column and what was wrong.
    std::string_view text = e.what();
    if (!text.empty() && text.front() == '[') {
      if (auto end = text.find("] "); end != std::string_view::npos) {
        text.remove_prefix(end + 2);
      }
    }
    return fail(std::string(text));
  }

  Json take() { return std::move(root_); }
  const std::string& error() const { return error_; }

 private:
  bool add(Json&& value) {
    place(std::move(value));
    return true;
  }

  // Puts `value` where the parser is: the root, the next array item or the
  // member whose key came last.
  Json* place(Json&& value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      auto& items = parent.get_ref<Json::array_t&>();
      items.push_back(std::move(value));
      return &items.back();
    }
    *member_ = std::move(value);
    return member_;
  }

  bool open(Json::value_t type) {
    if (open_.size() >= kMaxJsonDepth) {
      return fail("nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    open_.push_back(place(Json(type)));
    return true;
  }

  bool close() {
    open_.pop_back();
    return true;
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  Json root_;
  std::vector<Json*> open_;
  Json* member_ = nullptr;
  std::string error_;
};

constexpr std::size_t kDrainAt = 1 << 20;

class Writer {
 public:
  Writer(std::string& out, const JsonDrain& drain, bool pretty)
      : out_(out), drain_(drain), pretty_(pretty) {}

  void value(const Json& v, int depth) {
    switch (v.type()) {
      case Json::value_t::null:
      case Json::value_t::discarded:
        out_ += "null";
        break;
      case Json::value_t::boolean:
        out_ += v.get<bool>() ? "true" : "false";
        break;
      case Json::value_t::number_integer:
        integer(v.get<std::int64_t>());
        break;
      case Json::value_t::number_unsigned:
        integer(v.get<std::uint64_t>());
        break;
      case Json::value_t::number_float:
        write_json_double(out_, v.get<double>());
        break;
      case Json::value_t::string:
        write_json_string(out_, v.get_ref<const std::string&>());
        break;
      case Json::value_t::array:
        array(v.get_ref<const Json::array_t&>(), depth);
        break;
      case Json::value_t::object:
        object(v.get_ref<const Json::object_t&>(), depth);
        break;
      case Json::value_t::binary:
        out_ += "null";
        break;
    }
  }

 private:
  template <class Int>
  void integer(Int n) {
    char buffer[24];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
    out_.append(buffer, end);
  }

  void array(const Json::array_t& items, int depth) {
    if (items.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    bool first = true;
    for (const Json& item : items) {
      separate(first, depth + 1);
      value(item, depth + 1);
    }
    end(']', depth);
  }

  void object(const Json::object_t& members, int depth) {
    if (members.empty()) {
      out_ += "{}";
      return;
    }
    out_ += '{';
    bool first = true;
    for (const auto& [name, item] : members) {
      separate(first, depth + 1);
      write_json_string(out_, name);
      out_ += pretty_ ? ": " : ":";
      value(item, depth + 1);
    }
    end('}', depth);
  }

  void separate(bool& first, int depth) {
    if (!first) {
      out_ += ',';
    }
    first = false;
    if (drain_ && out_.size() >= kDrainAt) {
      drain_(out_);
    }
    newline(depth);
  }

  void end(char bracket, int depth) {
    newline(depth);
    out_ += bracket;
  }

  void newline(int depth) {
    if (pretty_) {
      out_ += '\n';
      out_.append(static_cast<std::size_t>(depth) * 2, ' ');
    }
  }

  std::string& out_;
  const JsonDrain& drain_;
  bool pretty_;
};

}  // namespace

Result<Json, std::string> parse_json(std::string_view text) {
  StrictTreeBuilder builder;
  if (!Json::sax_parse(text, &builder, nlohmann::detail::input_format_t::json, true)) {
    return builder.error();
  }
  return builder.take();
}

void write_json_pretty(std::string& out, const Json& value, const JsonDrain& drain) {
  Writer(out, drain, true).value(value, 0);
}

void write_json_compact(std::string& out, const Json& value, const JsonDrain& drain) {
  Writer(out, drain, false).value(value, 0);
}

void write_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t plain_from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') {
      continue;
    }
    out.append(text, plain_from, i - plain_from);
    plain_from = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text, plain_from, text.size() - plain_from);
  out += '"';
}

void write_json_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits, as d[.ddd]e<exp>.
  char buffer[64];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const auto e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') {
      digits += c;
    }
  }
  const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());

  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
      return;
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
      out += ".0";
    } else {
      out.append(digits, 0, whole);
      out += '.';
      out.append(digits, whole);
    }
    return;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out.append(digits, 1);
  }
  out += 'e';
  out += std::to_string(exponent);
}

std::string to_json_pretty(const Json& value) {
  std::string out;
  write_json_pretty(out, value);
  return out;
}

std::string to_json_compact(const Json& value) {
  std::string out;
  write_json_compact(out, value);
  return out;
}

}  // namespace vellumo
