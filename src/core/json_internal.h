#pragma once

// What the JSON value (core/json.h) and the JSON tape (core/json_tape.h)
// share: the layout of every JSON text the program writes, so that both
// writers follow one set of rules, and the messages of refused texts; and
// what the tape's builder and its member scanner share.
// Internal to src/core.

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/swar.h"

namespace vellumo::json_internal {

/// The message for a member that appears twice in one object.
std::string duplicate_member_message(std::string_view name);

/// The message parse_json gives for `text`, found without building a value,
/// for a text that holds no duplicate member before its first other fault.
/// Empty when the text has no such fault.
std::string refusal_message(std::string_view text);

/// The writers hand their buffer to the drain once it holds this much.
inline constexpr std::size_t kDrainAt = std::size_t{1} << 20;

/// Where a run of plain string bytes from `p` ends: the first `"` or `\`.
/// The string was checked, so one of them comes before `end`.
inline const char* end_of_plain(const char* p, const char* end) {
  for (; end - p >= 8; p += 8) {
    const std::uint64_t word = swar::load(p);
    if (const std::uint64_t mask = swar::equal_to(word, '"') | swar::equal_to(word, '\\')) {
      return p + swar::first(mask);
    }
  }
  while (*p != '"' && *p != '\\') {
    ++p;
  }
  return p;
}

/// Appends `text` with the escapes of write_json_string, without quotes.
void append_escaped(std::string& out, std::string_view text);

/// How the writer reads one kind of value; specialised for each kind of
/// node. `write(writer, node, depth)` calls back the writer's functions
/// below for the node's type.
template <class Node>
struct Access;

template <class Node>
class Writer {
 public:
  Writer(std::string& out, const JsonDrain& drain, bool pretty)
      : out_(out), drain_(drain), pretty_(pretty) {}

  void value(const Node& v, int depth) { Access<Node>::write(*this, v, depth); }

  void null() { out_ += "null"; }
  void boolean(bool b) { out_ += b ? "true" : "false"; }
  void number(double d) { write_json_double(out_, d); }

  template <class Int>
  void integer(Int n) {
    char buffer[24];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
    out_.append(buffer, end);
  }

  // A long string leaves in pieces, each cut before the first byte of a
  // character, so that no drained block ends inside one.
  void string(std::string_view text) {
    if (!drain_ || text.size() <= kDrainAt) {
      write_json_string(out_, text);
      return;
    }
    out_ += '"';
    while (!text.empty()) {
      std::size_t cut = text.size() <= kDrainAt ? text.size() : kDrainAt;
      for (int back = 0;
           back < 3 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
           ++back) {
        --cut;
      }
      append_escaped(out_, text.substr(0, cut));
      text.remove_prefix(cut);
      drain_if_full();
    }
    out_ += '"';
  }

  /// `items`: a range of Node.
  template <class Items>
  void array(const Items& items, int depth) {
    auto it = items.begin();
    if (it == items.end()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    for (bool first = true; it != items.end(); ++it) {
      separate(first, depth + 1);
      value(*it, depth + 1);
    }
    end(']', depth);
  }

  /// `members`: a range of (key, Node) pairs in key order.
  template <class Members>
  void object(const Members& members, int depth) {
    auto it = members.begin();
    if (it == members.end()) {
      out_ += "{}";
      return;
    }
    out_ += '{';
    for (bool first = true; it != members.end(); ++it) {
      const auto& [name, item] = *it;
      separate(first, depth + 1);
      write_json_string(out_, name);
      out_.append(": ", pretty_ ? 2 : 1);
      value(item, depth + 1);
    }
    end('}', depth);
  }

 private:
  void drain_if_full() {
    if (drain_ && out_.size() >= kDrainAt) {
      drain_(out_);
    }
  }

  void separate(bool& first, int depth) {
    if (!first) {
      out_ += ',';
    }
    first = false;
    drain_if_full();
    newline(depth);
  }

  void end(char bracket, int depth) {
    newline(depth);
    out_ += bracket;
  }

  void newline(int depth) {
    if (!pretty_) {
      return;
    }
    const std::size_t width = static_cast<std::size_t>(depth) * 2;
    if (width < kIndent.size()) {
      out_.append(kIndent.data(), width + 1);
    } else {
      out_ += '\n';
      out_.append(width, ' ');
    }
  }

  // A line feed and the indentation of the deepest parsed value, to be
  // appended in one piece.
  static constexpr auto kIndent = [] {
    std::array<char, 2 + 2 * kMaxJsonDepth> text{};
    text.fill(' ');
    text[0] = '\n';
    return text;
  }();

  std::string& out_;
  const JsonDrain& drain_;
  bool pretty_;
};

}  // namespace vellumo::json_internal
