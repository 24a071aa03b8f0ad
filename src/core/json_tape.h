#pragma once

// A parsed JSON text kept compactly, for values that are mostly printed as
// they came (the app's replies). One scan over the text checks it and
// records its values as 16-byte tokens in one vector, and every object's
// members, sorted once by key bytes, in another; strings stay in the text,
// those with escapes unescaped where they stand once the whole text is
// accepted (keys with escapes go to a small arena at once, to be sorted).
// So a tape takes little more than its text, and nothing recurses.
//
// It accepts exactly what parse_json accepts, with the same messages, and
// prints with the same rules as write_json_pretty (tests/unit and
// scripts/fuzz json_tape hold it to that). The program's own logic works on
// `Json`; JsonNode::to_json converts.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json.h"
#include "core/result.h"

namespace vellumo {

enum class JsonKind : std::uint8_t {
  Null,
  False,
  True,
  Integer,   ///< an integer written with a minus sign (signed 64-bit)
  Unsigned,  ///< any other integer (unsigned 64-bit)
  Float,
  String,
  Array,
  Object,
};

class JsonNode;
struct JsonMember;

/// What a tape does with a member that appears twice in one object.
enum class JsonDuplicates : std::uint8_t {
  Refused,    ///< the text is refused, as parse_json refuses it
  LaterWins,  ///< the later value stands, as parse_json_tolerant reads it
};

class JsonTape {
 public:
  /// The texts a tape can hold: offsets are 31-bit.
  static constexpr std::size_t kMaxText = 0x7FFFFFFF;

  /// The value null.
  JsonTape();

  /// Parses `text` like parse_json: exactly one value, whitespace around it,
  /// no member twice in one object, nesting at most kMaxJsonDepth deep.
  /// The tape keeps the text. With JsonDuplicates::LaterWins a member
  /// that comes twice is no fault, as in parse_json_tolerant.
  static Result<JsonTape, std::string> parse(std::string text,
                                             JsonDuplicates duplicates = JsonDuplicates::Refused);

  /// Whether parse with JsonDuplicates::LaterWins would accept `text`,
  /// found without recording anything: no memory beyond a fixed few KiB.
  static bool check(std::string_view text);

  JsonNode root() const;

  /// Makes `node`, a value inside this tape, the tape's value.
  void narrow_to(const JsonNode& node);

 private:
  friend class JsonNode;
  friend class TapeBuilder;

  struct Token {
    JsonKind kind = JsonKind::Null;
    /// A string whose text reference still holds its escapes (only while
    /// the tape is built).
    bool escaped = false;
    /// String: its length in bytes. Array: its items. Object: its members.
    std::uint32_t size = 0;
    /// Numbers: the value's bits. String: its text reference. Array and
    /// object: the index just past their last token (low half); objects
    /// also the index of their first member (high half).
    std::uint64_t data = 0;
  };

  struct Member {
    std::uint32_t key;  ///< text reference
    std::uint32_t key_size;
    std::uint32_t value;  ///< token index
  };

  /// A text reference is an offset into the text, or with this bit into
  /// the key arena.
  static constexpr std::uint32_t kArenaBit = 0x80000000u;

  /// Keys with escapes, unescaped one after the other. (Other strings
  /// with escapes are unescaped in place, in the tape's copy of the text.)
  std::string key_arena_;

  std::string_view text_at(std::uint32_t reference, std::uint32_t size) const {
    const char* base = (reference & kArenaBit) ? key_arena_.data() : text_.data();
    return {base + (reference & ~kArenaBit), size};
  }
  /// The index just past the value at `index` and everything inside it.
  std::uint32_t skip(std::uint32_t index) const {
    const Token& token = tokens_[index];
    return token.kind == JsonKind::Array || token.kind == JsonKind::Object
               ? static_cast<std::uint32_t>(token.data)
               : index + 1;
  }

  std::string text_;
  std::vector<Token> tokens_;
  std::vector<Member> members_;
  std::uint32_t root_ = 0;
};

/// One value of a tape; valid while the tape lives and is not moved.
class JsonNode {
 public:
  JsonKind kind() const { return token().kind; }
  bool is_null() const { return kind() == JsonKind::Null; }
  bool is_boolean() const { return kind() == JsonKind::False || kind() == JsonKind::True; }
  bool is_string() const { return kind() == JsonKind::String; }
  bool is_array() const { return kind() == JsonKind::Array; }
  bool is_object() const { return kind() == JsonKind::Object; }

  /// The value of a boolean.
  bool boolean() const { return kind() == JsonKind::True; }
  /// The value of an Integer, an Unsigned or a Float node.
  std::int64_t integer() const { return static_cast<std::int64_t>(token().data); }
  std::uint64_t unsigned_integer() const { return token().data; }
  double number() const { return std::bit_cast<double>(token().data); }
  /// The text of a string; empty for other kinds.
  std::string_view string() const;
  /// Items of an array, members of an object; 0 for other kinds.
  std::size_t size() const;

  /// The member `key` of an object; nullopt when absent or not an object.
  std::optional<JsonNode> find(std::string_view key) const;

  class ItemIterator {
   public:
    JsonNode operator*() const { return JsonNode(tape_, index_); }
    ItemIterator& operator++() {
      index_ = tape_->skip(index_);
      return *this;
    }
    bool operator==(const ItemIterator& other) const { return index_ == other.index_; }

   private:
    friend class JsonNode;
    ItemIterator(const JsonTape* tape, std::uint32_t index) : tape_(tape), index_(index) {}
    const JsonTape* tape_;
    std::uint32_t index_;
  };

  class MemberIterator {
   public:
    JsonMember operator*() const;
    MemberIterator& operator++() {
      ++member_;
      return *this;
    }
    bool operator==(const MemberIterator& other) const { return member_ == other.member_; }

   private:
    friend class JsonNode;
    MemberIterator(const JsonTape* tape, const JsonTape::Member* member)
        : tape_(tape), member_(member) {}
    const JsonTape* tape_;
    const JsonTape::Member* member_;
  };

  template <class Iterator>
  struct Range {
    Iterator first, last;
    Iterator begin() const { return first; }
    Iterator end() const { return last; }
  };

  /// The items of an array in order; empty for other kinds.
  Range<ItemIterator> items() const;
  /// The members of an object in ascending byte order of their keys; empty
  /// for other kinds.
  Range<MemberIterator> members() const;

  /// The value as a Json.
  Json to_json() const;

 private:
  friend class JsonTape;
  JsonNode(const JsonTape* tape, std::uint32_t index) : tape_(tape), index_(index) {}
  const JsonTape::Token& token() const { return tape_->tokens_[index_]; }

  const JsonTape* tape_;
  std::uint32_t index_;
};

/// Reads the members of an object from its text, recording nothing: for a
/// text that JsonTape::check accepted, whose value is an object (JSON
/// whitespace around it allowed, no byte order mark).
class JsonTextMembers {
 public:
  explicit JsonTextMembers(std::string_view object) : text_(object) {}

  /// The next member, in the order of the text: its key as written, without
  /// quotation marks and with its escapes, and the exact text of its value.
  /// False after the last.
  bool next(std::string_view& key, std::string_view& value);

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

/// One member of an object: its key and its value.
struct JsonMember {
  std::string_view key;
  JsonNode value;
};

inline JsonMember JsonNode::MemberIterator::operator*() const {
  return {tape_->text_at(member_->key, member_->key_size), JsonNode(tape_, member_->value)};
}

/// The members `names` of `object` as a Json object of their own, each
/// null where `object` is absent, no object, or has no such member: the
/// part of an app reply that a command prints.
Json pick_members(const std::optional<JsonNode>& object,
                  std::initializer_list<std::string_view> names);

/// Appends `value` as pretty JSON, exactly as write_json_pretty writes the
/// same value held as a Json.
void write_json_pretty(std::string& out, const JsonNode& value, const JsonDrain& drain = {});

/// Appends `value` as compact JSON, exactly as write_json_compact would.
void write_json_compact(std::string& out, const JsonNode& value, const JsonDrain& drain = {});

}  // namespace vellumo
