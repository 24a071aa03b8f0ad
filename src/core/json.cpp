#include "core/json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "core/json_internal.h"
#include "core/swar.h"

namespace vellumo {
namespace {

// The library's message without its "[json.exception.parse_error.101] "
// tag; the rest names the line, the column and what was wrong.
std::string library_message(const nlohmann::detail::exception& e) {
  std::string_view text = e.what();
  if (!text.empty() && text.front() == '[') {
    if (auto end = text.find("] "); end != std::string_view::npos) {
      text.remove_prefix(end + 2);
    }
  }
  return std::string(text);
}

// The parser takes a NUL byte for the end of the text, so it accepts a value
// followed by a NUL and anything at all. No JSON text holds a NUL byte
// (a string must escape it), so a text the parser accepted is refused here
// when it has one: after its value.
std::string nul_message(std::string_view text) {
  const auto nul = text.find('\0');
  if (nul == std::string_view::npos) {
    return {};
  }
  const auto line_start = text.rfind('\n', nul);
  const std::size_t column = line_start == std::string_view::npos ? nul + 1 : nul - line_start;
  const std::size_t line =
      1 + static_cast<std::size_t>(
              std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), '\n'));
  return "parse error at line " + std::to_string(line) + ", column " + std::to_string(column) +
         ": syntax error while parsing value - unexpected NUL byte; expected end of input";
}

std::string depth_message() {
  return "nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels";
}

// Builds the value tree from the parser's events, refusing deep nesting
// as soon as it is seen, and duplicate members too unless there is a sink
// for them: then the later value wins and the sink hears of it.
class StrictTreeBuilder final : public nlohmann::json_sax<Json> {
 public:
  explicit StrictTreeBuilder(const JsonDoubledSink* doubled = nullptr) : doubled_(doubled) {}

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
      if (!doubled_) {
        return fail(json_internal::duplicate_member_message(name));
      }
      report_doubled(name);
    }
    member_ = &slot->second;
    if (doubled_) {
      key_ = std::move(name);
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    return fail(library_message(e));
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
      return fail(depth_message());
    }
    if (doubled_ && !open_.empty()) {
      // Only an object member has a key; an array item leaves the path.
      path_.push_back(open_.back()->is_object() ? std::optional(key_) : std::nullopt);
    }
    open_.push_back(place(Json(type)));
    return true;
  }

  bool close() {
    open_.pop_back();
    if (doubled_ && !open_.empty()) {
      path_.pop_back();
    }
    return true;
  }

  void report_doubled(const std::string& name) {
    JsonKeyPath path;
    for (const auto& key : path_) {
      if (!key) {
        return;  // inside an array
      }
      path.push_back(*key);
    }
    path.push_back(name);
    (*doubled_)(path);
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  Json root_;
  std::vector<Json*> open_;
  Json* member_ = nullptr;
  std::string error_;
  // Only with a sink for doubled members: the last key read, and for each
  // open container below the top one, the key it is the member of.
  const JsonDoubledSink* doubled_;
  std::string key_;
  std::vector<std::optional<std::string>> path_;
};

// Follows the parser's events like StrictTreeBuilder, but builds nothing and
// leaves duplicate members to the caller; hands each key of a top-level
// object to `top_key_` when there is one.
class StrictChecker final : public nlohmann::json_sax<Json> {
 public:
  explicit StrictChecker(const JsonKeySink& top_key) : top_key_(top_key) {}

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool key(string_t& name) override {
    if (depth_ == 1 && top_key_) {
      top_key_(std::move(name));
    }
    return true;
  }
  bool start_object(std::size_t) override { return open(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    return fail(library_message(e));
  }

  const std::string& error() const { return error_; }

 private:
  bool open() {
    if (depth_ >= kMaxJsonDepth) {
      return fail(depth_message());
    }
    ++depth_;
    return true;
  }

  bool close() {
    --depth_;
    return true;
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  const JsonKeySink& top_key_;
  std::size_t depth_ = 0;
  std::string error_;
};

using JsonWriter = json_internal::Writer<Json>;

}  // namespace

namespace json_internal {

template <>
struct Access<Json> {
  static void write(JsonWriter& w, const Json& v, int depth) {
    switch (v.type()) {
      case Json::value_t::null:
      case Json::value_t::discarded:
      case Json::value_t::binary:
        w.null();
        break;
      case Json::value_t::boolean:
        w.boolean(v.get<bool>());
        break;
      case Json::value_t::number_integer:
        w.integer(v.get<std::int64_t>());
        break;
      case Json::value_t::number_unsigned:
        w.integer(v.get<std::uint64_t>());
        break;
      case Json::value_t::number_float:
        w.number(v.get<double>());
        break;
      case Json::value_t::string:
        w.string(v.get_ref<const std::string&>());
        break;
      case Json::value_t::array:
        w.array(v.get_ref<const Json::array_t&>(), depth);
        break;
      case Json::value_t::object:
        w.object(v.get_ref<const Json::object_t&>(), depth);
        break;
    }
  }
};

std::string duplicate_member_message(std::string_view name) {
  std::string message = "duplicate member ";
  write_json_string(message, name);
  return message;
}

std::string refusal_message(std::string_view text) {
  auto checked = check_json_syntax(text);
  return checked ? std::string() : std::move(checked).error();
}

// The escape of each byte write_json_string escapes: `"`, `\` and the
// controls; a zero size for the others.
struct Escape {
  char text[8];  // padded, to be copied as one word
  std::uint8_t size;
};

constexpr auto kEscapes = [] {
  constexpr char kHex[] = "0123456789abcdef";
  std::array<Escape, 256> table{};
  for (int c = 0; c < 0x20; ++c) {
    table[c] = Escape{{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]}, 6};
  }
  table['\b'] = Escape{{'\\', 'b'}, 2};
  table['\f'] = Escape{{'\\', 'f'}, 2};
  table['\n'] = Escape{{'\\', 'n'}, 2};
  table['\r'] = Escape{{'\\', 'r'}, 2};
  table['\t'] = Escape{{'\\', 't'}, 2};
  table['"'] = Escape{{'\\', '"'}, 2};
  table['\\'] = Escape{{'\\', '\\'}, 2};
  return table;
}();

// Escapes through a buffer on the stack, eight bytes at a time: each word
// is stored whole and the output kept up to its first byte that needs an
// escape. The string grows once per buffer, not once per escape.
void append_escaped(std::string& out, std::string_view text) {
  constexpr std::size_t kBuffer = 4096;
  char buffer[kBuffer + 16];
  char* w = buffer;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    // Room for a word or an escape (at most 6 bytes).
    if (w > buffer + kBuffer) {
      out.append(buffer, static_cast<std::size_t>(w - buffer));
      w = buffer;
    }
    unsigned char c;
    if (end - p >= 8) {
      const std::uint64_t word = swar::load(p);
      std::memcpy(w, p, 8);
      const std::uint64_t mask =
          swar::equal_to(word, '"') | swar::equal_to(word, '\\') | swar::controls(word);
      if (mask == 0) {
        p += 8;
        w += 8;
        continue;
      }
      const std::size_t k = swar::first(mask);
      p += k;
      w += k;
      c = static_cast<unsigned char>(*p++);
    } else {
      if (p == end) {
        break;
      }
      c = static_cast<unsigned char>(*p++);
      if (kEscapes[c].size == 0) {
        *w++ = static_cast<char>(c);
        continue;
      }
    }
    const Escape& escape = kEscapes[c];
    std::memcpy(w, escape.text, 8);
    w += escape.size;
  }
  out.append(buffer, static_cast<std::size_t>(w - buffer));
}

}  // namespace json_internal

Result<Json, std::string> parse_json(std::string_view text) {
  StrictTreeBuilder builder;
  if (!Json::sax_parse(text, &builder, nlohmann::detail::input_format_t::json, true)) {
    return builder.error();
  }
  if (std::string message = nul_message(text); !message.empty()) {
    return message;
  }
  return builder.take();
}

Result<Json, std::string> parse_json_tolerant(std::string_view text,
                                              const JsonDoubledSink& doubled) {
  StrictTreeBuilder builder(&doubled);
  if (!Json::sax_parse(text, &builder, nlohmann::detail::input_format_t::json, true)) {
    return builder.error();
  }
  if (std::string message = nul_message(text); !message.empty()) {
    return message;
  }
  return builder.take();
}

Result<void, std::string> check_json_syntax(std::string_view text, const JsonKeySink& top_key) {
  StrictChecker checker(top_key);
  if (!Json::sax_parse(text, &checker, nlohmann::detail::input_format_t::json, true)) {
    return checker.error();
  }
  if (std::string message = nul_message(text); !message.empty()) {
    return message;
  }
  return {};
}

void write_json_pretty(std::string& out, const Json& value, const JsonDrain& drain) {
  JsonWriter(out, drain, true).value(value, 0);
}

void write_json_compact(std::string& out, const Json& value, const JsonDrain& drain) {
  JsonWriter(out, drain, false).value(value, 0);
}

void write_json_string(std::string& out, std::string_view text) {
  out += '"';
  json_internal::append_escaped(out, text);
  out += '"';
}

void write_json_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits, as d[.ddd]e<exp>.
  char buffer[64];
  auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
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

std::string to_json_compact(const Json& value) {
  std::string out;
  write_json_compact(out, value);
  return out;
}

}  // namespace vellumo
