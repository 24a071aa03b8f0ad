// The JSON tape's builder: one pass that checks a text and, unless it only
// checks, records it as a tape.

#include "core/json_tape.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "core/json_internal.h"
#include "core/swar.h"

namespace vellumo {
namespace {

using json_internal::end_of_plain;

// What each one-letter escape stands for (`"`, `\`, `/`, b, f, n, r, t);
// zero for other letters.
constexpr auto kUnescaped = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['b'] = '\b';
  table['f'] = '\f';
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  return table;
}();

// The value of each hexadecimal digit; 16 for other bytes.
constexpr auto kHexValue = [] {
  std::array<std::uint8_t, 256> table{};
  for (auto& value : table) {
    value = 16;
  }
  for (int c = 0; c < 10; ++c) {
    table['0' + c] = static_cast<std::uint8_t>(c);
  }
  for (int c = 0; c < 6; ++c) {
    table['a' + c] = table['A' + c] = static_cast<std::uint8_t>(10 + c);
  }
  return table;
}();

std::uint32_t hex_digit(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

std::uint32_t hex4_of(const char* p) {
  return hex_digit(p[0]) << 12 | hex_digit(p[1]) << 8 | hex_digit(p[2]) << 4 | hex_digit(p[3]);
}

// Unescapes the body of a checked string where it stands, from `p` (after
// its opening quote) to its closing quote; returns the end of the result.
// No escape is shorter than what it stands for, so the output never
// overtakes the input, and a whole word can be stored where its bytes are
// all kept, or wherever the output lags eight bytes or more behind.
char* unescape_in_place(char* p, const char* end) {
  p = const_cast<char*>(end_of_plain(p, end));  // nothing moves before the first escape
  char* out = p;
  while (*p != '"') {
    ++p;  // the backslash
    const char c = *p++;
    if (c != 'u') {
      *out++ = kUnescaped[static_cast<unsigned char>(c)];
    } else {
      std::uint32_t code = hex4_of(p);
      p += 4;
      if (code >= 0xD800 && code <= 0xDBFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (hex4_of(p + 2) - 0xDC00);
        p += 6;
      }
      if (code < 0x80) {
        *out++ = static_cast<char>(code);
      } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
      } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
      } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
      }
    }
    // The plain run up to the next `"` or `\`.
    for (;;) {
      if (end - p < 8) {
        while (*p != '"' && *p != '\\') {
          *out++ = *p++;
        }
        break;
      }
      const std::uint64_t word = swar::load(p);
      const std::uint64_t mask = swar::equal_to(word, '"') | swar::equal_to(word, '\\');
      const std::size_t keep = mask == 0 ? 8 : swar::first(mask);
      if (mask == 0 || p - out >= 8) {
        char bytes[8];  // read whole, then written whole: no overlap matters
        std::memcpy(bytes, p, 8);
        std::memcpy(out, bytes, 8);
      } else {
        for (std::size_t i = 0; i < keep; ++i) {
          out[i] = p[i];  // forward, so that an overlap does no harm
        }
      }
      p += keep;
      out += keep;
      if (mask != 0) {
        break;
      }
    }
  }
  return out;
}

}  // namespace

// One pass over the text, left to right, with an explicit stack of the open
// arrays and objects (at most kMaxJsonDepth), so that no input recurses.
// The members of the open objects wait on a stack of their own; closing an
// object sorts its members by key bytes, where a duplicate shows up as two
// equal neighbours, and moves them to the tape. A builder that only checks
// records nothing at all.
class TapeBuilder {
 public:
  enum class Mode { Refuse, LaterWins, CheckOnly };

  TapeBuilder(std::string_view text, JsonTape& tape, Mode mode)
      : text_(text),
        p_(text.data()),
        end_(text.data() + text.size()),
        tape_(tape),
        record_(mode != Mode::CheckOnly),
        later_wins_(mode == Mode::LaterWins) {}

  // True when the text is accepted; the tape then holds it.
  bool run() {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) {
      p_ += 3;  // the parser takes a leading byte order mark, and so do we
    }
    skip_space();
    State state = State::Value;
    for (;;) {
      switch (state) {
        case State::Value:
          if (!value(state)) {
            return false;
          }
          break;
        case State::Key:
          if (!key()) {
            return false;
          }
          state = State::Value;
          break;
        case State::AfterValue: {
          skip_space();
          if (depth_ == 0) {
            return p_ == end_;
          }
          if (p_ == end_) {
            return false;
          }
          Frame& frame = frames_[depth_ - 1];
          if (*p_ == ',') {
            ++p_;
            skip_space();
            if (frame.object) {
              state = State::Key;
            } else {
              ++frame.count;
              state = State::Value;
            }
          } else if (*p_ == (frame.object ? '}' : ']')) {
            ++p_;
            if (!close()) {
              return false;
            }
          } else {
            return false;
          }
          break;
        }
      }
    }
  }

  // After a refusal: the key of the first member, in the order of the text,
  // that repeats a key before it in the same object, among the objects that
  // were open (or being closed) when the scan stopped. Every object closed
  // before had no duplicate, so this is the first duplicate of the text up
  // to where the scan stopped.
  std::optional<std::string> first_duplicate() const {
    std::optional<std::string> found;
    std::uint32_t found_at = UINT32_MAX;
    for (std::size_t d = 0; d < depth_; ++d) {
      if (!frames_[d].object) {
        continue;
      }
      std::size_t last = pending_.size();
      for (std::size_t inner = d + 1; inner < depth_; ++inner) {
        if (frames_[inner].object) {
          last = frames_[inner].first_pending;
          break;
        }
      }
      std::vector<JsonTape::Member> members(pending_.begin() + frames_[d].first_pending,
                                            pending_.begin() + static_cast<std::ptrdiff_t>(last));
      std::sort(members.begin(), members.end(), [&](const auto& a, const auto& b) {
        const auto ka = key_of(a), kb = key_of(b);
        return ka != kb ? ka < kb : a.value < b.value;
      });
      for (std::size_t i = 1; i < members.size(); ++i) {
        if (members[i].value < found_at && key_of(members[i]) == key_of(members[i - 1])) {
          found_at = members[i].value;
          found = std::string(key_of(members[i]));
        }
      }
    }
    return found;
  }

  // How many string values hold escapes.
  std::size_t escaped_strings() const { return escaped_strings_; }

 private:
  enum class State { Value, Key, AfterValue };

  struct Frame {
    std::uint32_t token;
    std::uint32_t first_pending;  // where its members begin on pending_
    std::uint32_t count;          // items or members so far
    bool object;
  };

  using Token = JsonTape::Token;

  std::uint32_t next_index() const { return static_cast<std::uint32_t>(tape_.tokens_.size()); }

  void push(JsonKind kind, std::uint64_t data = 0, std::uint32_t size = 0) {
    if (record_) {
      tape_.tokens_.push_back(Token{kind, false, size, data});
    }
  }

  std::string_view key_of(const JsonTape::Member& member) const {
    return view(member.key, member.key_size);
  }

  std::string_view view(std::uint32_t reference, std::uint32_t size) const {
    const char* base = (reference & JsonTape::kArenaBit) ? tape_.key_arena_.data() : text_.data();
    return {base + (reference & ~JsonTape::kArenaBit), size};
  }

  void skip_space() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) {
      ++p_;
    }
  }

  bool value(State& state) {
    if (p_ == end_) {
      return false;
    }
    switch (*p_) {
      case '{':
      case '[': {
        const bool object = *p_ == '{';
        if (depth_ == kMaxJsonDepth) {
          return false;
        }
        frames_[depth_++] =
            Frame{next_index(), static_cast<std::uint32_t>(pending_.size()), 0, object};
        push(object ? JsonKind::Object : JsonKind::Array);
        ++p_;
        skip_space();
        if (p_ != end_ && *p_ == (object ? '}' : ']')) {
          ++p_;
          close();  // empty: nothing to refuse
          state = State::AfterValue;
        } else if (object) {
          state = State::Key;
        } else {
          frames_[depth_ - 1].count = 1;
          state = State::Value;
        }
        return true;
      }
      case '"': {
        std::uint32_t reference, size;
        bool escaped;
        if (!string(reference, size, escaped)) {
          return false;
        }
        // Unescaped in place once the whole text is accepted.
        if (record_) {
          tape_.tokens_.push_back(Token{JsonKind::String, escaped, size, reference});
          escaped_strings_ += escaped;
        }
        state = State::AfterValue;
        return true;
      }
      case 't':
        state = State::AfterValue;
        return literal("true", JsonKind::True);
      case 'f':
        state = State::AfterValue;
        return literal("false", JsonKind::False);
      case 'n':
        state = State::AfterValue;
        return literal("null", JsonKind::Null);
      default:
        state = State::AfterValue;
        return number();
    }
  }

  bool key() {
    if (p_ == end_ || *p_ != '"') {
      return false;
    }
    std::uint32_t reference, size;
    bool escaped;
    if (!string(reference, size, escaped)) {
      return false;
    }
    if (escaped && record_) {
      // Objects sort their keys as they close, so a key is unescaped now,
      // onto the key arena.
      std::string& arena = tape_.key_arena_;
      const std::size_t from = arena.size();
      arena.append(text_.data() + reference, size);
      arena += '"';
      char* body = arena.data() + from;
      char* end = unescape_in_place(body, arena.data() + arena.size());
      arena.resize(static_cast<std::size_t>(end - arena.data()));
      reference = static_cast<std::uint32_t>(from) | JsonTape::kArenaBit;
      size = static_cast<std::uint32_t>(arena.size() - from);
    }
    // Recorded before the colon is checked, as the parser reports a key.
    if (record_) {
      pending_.push_back(JsonTape::Member{reference, size, next_index()});
    }
    ++frames_[depth_ - 1].count;
    skip_space();
    if (p_ == end_ || *p_ != ':') {
      return false;
    }
    ++p_;
    skip_space();
    return true;
  }

  // Closes the innermost frame; false (the frame left open) when the object
  // holds a member twice and that is refused. Where the later value wins,
  // the earlier members of a key are dropped from the object; their values
  // stay on the tape, inside the object's span, where nothing reaches them.
  bool close() {
    const Frame& frame = frames_[depth_ - 1];
    if (!record_) {
      --depth_;
      return true;
    }
    Token& token = tape_.tokens_[frame.token];
    std::uint64_t data = next_index();
    std::uint32_t size = frame.count;
    if (frame.object) {
      auto& members = tape_.members_;
      const auto first = pending_.begin() + frame.first_pending;
      if (pending_.end() - first > 1) {
        // Equal keys in the order of the text, the later value last.
        std::sort(first, pending_.end(), [&](const auto& a, const auto& b) {
          const auto ka = key_of(a), kb = key_of(b);
          return ka != kb ? ka < kb : a.value < b.value;
        });
        const auto same_key = [&](const auto& a, const auto& b) { return key_of(a) == key_of(b); };
        if (!later_wins_) {
          if (std::adjacent_find(first, pending_.end(), same_key) != pending_.end()) {
            return false;
          }
        } else {
          auto kept = first;
          for (auto it = first; it != pending_.end(); ++it) {
            if (it + 1 == pending_.end() || !same_key(*it, *(it + 1))) {
              *kept++ = *it;
            }
          }
          pending_.erase(kept, pending_.end());
          size = static_cast<std::uint32_t>(pending_.end() - first);
        }
      }
      data |= static_cast<std::uint64_t>(members.size()) << 32;
      members.insert(members.end(), first, pending_.end());
      pending_.erase(first, pending_.end());
    }
    token.data = data;
    token.size = size;
    --depth_;
    return true;
  }

  bool literal(std::string_view word, JsonKind kind) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return false;
    }
    p_ += word.size();
    push(kind);
    return true;
  }

  bool digit() const { return p_ != end_ && *p_ >= '0' && *p_ <= '9'; }

  void skip_digits() {
    while (digit()) {
      ++p_;
    }
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?  Integers that fit 64
  // bits stay integers (signed when negative); the rest are doubles, and a
  // double too large to hold is refused.
  bool number() {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative) {
      ++p_;
    }
    if (!digit()) {
      return false;
    }
    if (*p_++ != '0') {
      skip_digits();
    }
    bool integral = true;
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (!digit()) {
        return false;
      }
      skip_digits();
      integral = false;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
        ++p_;
      }
      if (!digit()) {
        return false;
      }
      skip_digits();
      integral = false;
    }
    if (integral) {
      if (negative) {
        std::int64_t n;
        if (auto [end, error] = std::from_chars(start, p_, n); error == std::errc() && end == p_) {
          push(JsonKind::Integer, static_cast<std::uint64_t>(n));
          return true;
        }
      } else {
        std::uint64_t n;
        if (auto [end, error] = std::from_chars(start, p_, n); error == std::errc() && end == p_) {
          push(JsonKind::Unsigned, n);
          return true;
        }
      }
    }
    double d;
    const auto [end, error] = std::from_chars(start, p_, d);
    if (error == std::errc::result_out_of_range) {
      if (!underflows(start, p_)) {
        return false;
      }
      d = negative ? -0.0 : 0.0;
    } else if (error != std::errc() || end != p_) {
      return false;
    }
    push(JsonKind::Float, std::bit_cast<std::uint64_t>(d));
    return true;
  }

  // For a number out of the range of doubles: whether it is too small (it
  // reads as zero) rather than too large, from the decimal exponent of its
  // first significant digit.
  static bool underflows(const char* p, const char* end) {
    if (*p == '-') {
      ++p;
    }
    std::int64_t magnitude = 0;
    bool seen = false;
    std::int64_t place = -1;  // digits of the integer part so far, less one
    for (; p != end && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        place = -1;
        for (++p; p != end && *p >= '0' && *p <= '9'; ++p, --place) {
          if (!seen && *p != '0') {
            magnitude = place;
            seen = true;
          }
        }
        break;
      }
      if (seen) {
        ++magnitude;
      } else if (*p != '0') {
        seen = true;
        magnitude = 0;
      }
    }
    if (!seen) {
      return true;
    }
    std::int64_t exponent = 0;
    bool exponent_negative = false;
    if (p != end && (*p == 'e' || *p == 'E')) {
      ++p;
      if (*p == '+' || *p == '-') {
        exponent_negative = *p++ == '-';
      }
      for (; p != end; ++p) {
        exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), 1'000'000'000);
      }
    }
    return magnitude + (exponent_negative ? -exponent : exponent) < 0;
  }

  // The bytes that end a plain run inside a string: `"`, `\`, a control
  // or a non-ASCII byte.
  static bool ends_run(unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c >= 0x80; }
  static std::uint64_t special(std::uint64_t word) {
    return swar::equal_to(word, '"') | swar::equal_to(word, '\\') | swar::controls(word) |
           (word & swar::kHighs);
  }

  // The first byte at or after `p` that ends a plain run; end_ when none.
  const char* find_special(const char* p) const {
    for (; end_ - p >= 8; p += 8) {
      if (const std::uint64_t mask = special(swar::load(p)); mask != 0) {
        return p + swar::first(mask);
      }
    }
    while (p != end_ && !ends_run(static_cast<unsigned char>(*p))) {
      ++p;
    }
    return p;
  }

  // Steps over one well-formed UTF-8 sequence of two to four bytes at p_
  // (no overlong forms, no surrogates, nothing above U+10FFFF).
  // decode_utf8's rules again: on the hot path of big replies no scalar value is needed.
  bool skip_utf8() {
    const auto byte = [&](std::ptrdiff_t k) { return static_cast<unsigned char>(p_[k]); };
    const unsigned char b0 = byte(0);
    std::ptrdiff_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      low = b0 == 0xE0 ? 0xA0 : 0x80;
      high = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      low = b0 == 0xF0 ? 0x90 : 0x80;
      high = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (end_ - p_ < length || byte(1) < low || byte(1) > high) {
      return false;
    }
    for (std::ptrdiff_t k = 2; k < length; ++k) {
      if ((byte(k) & 0xC0) != 0x80) {
        return false;
      }
    }
    p_ += length;
    return true;
  }

  // Scans the plain bytes from p_ to the next `"`, `\` or fault.
  bool plain_run() {
    for (;;) {
      p_ = find_special(p_);
      if (p_ == end_) {
        return false;
      }
      if (static_cast<unsigned char>(*p_) < 0x80) {
        return true;
      }
      if (!skip_utf8()) {
        return false;
      }
    }
  }

  // Checks the string at p_ (on its opening quote) and steps past it:
  // `reference` and `size` give its body as it stands in the text, and
  // `escaped` whether that holds escapes. Nothing is unescaped here, so that
  // a refused text stays as it came, for the library's message.
  bool string(std::uint32_t& reference, std::uint32_t& size, bool& escaped) {
    const char* start = ++p_;
    escaped = false;
    for (;;) {
      if (!plain_run()) {
        return false;
      }
      if (*p_ == '"') {
        break;
      }
      if (*p_ != '\\' || !check_escape()) {
        return false;
      }
      escaped = true;
    }
    reference = static_cast<std::uint32_t>(start - text_.data());
    size = static_cast<std::uint32_t>(p_ - start);
    ++p_;
    return true;
  }

  bool hex4(std::uint32_t& value) {
    if (end_ - p_ < 4) {
      return false;
    }
    const std::uint32_t digits[4] = {hex_digit(p_[0]), hex_digit(p_[1]), hex_digit(p_[2]),
                                     hex_digit(p_[3])};
    p_ += 4;
    value = digits[0] << 12 | digits[1] << 8 | digits[2] << 4 | digits[3];
    return (digits[0] | digits[1] | digits[2] | digits[3]) < 16;
  }

  // One escape at p_ (on its backslash). A \u escape of a high surrogate
  // must be followed by one of a low surrogate; a lone surrogate is refused.
  bool check_escape() {
    if (++p_ == end_) {
      return false;
    }
    const auto letter = static_cast<unsigned char>(*p_++);
    if (letter != 'u') {
      return kUnescaped[letter] != 0;
    }
    std::uint32_t c;
    if (!hex4(c)) {
      return false;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      std::uint32_t low;
      if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') {
        return false;
      }
      p_ += 2;
      return hex4(low) && low >= 0xDC00 && low <= 0xDFFF;
    }
    return c < 0xDC00 || c > 0xDFFF;
  }

  std::string_view text_;
  const char* p_;
  const char* end_;
  JsonTape& tape_;
  const bool record_;
  const bool later_wins_;
  std::array<Frame, kMaxJsonDepth> frames_{};
  std::size_t depth_ = 0;
  std::vector<JsonTape::Member> pending_;
  std::size_t escaped_strings_ = 0;
};

JsonTape::JsonTape() : tokens_{Token{}} {}

Result<JsonTape, std::string> JsonTape::parse(std::string text, JsonDuplicates duplicates) {
  if (text.size() > kMaxText) {
    return "the text is longer than " + std::to_string(kMaxText) + " bytes";
  }
  JsonTape tape;
  tape.tokens_.clear();
  // Room for a token and a member per 16 bytes: more than most texts need
  // (replies run to about one per 20), so that they are not copied while
  // they grow; the part never written costs no memory.
  tape.tokens_.reserve(text.size() / 16 + 4);
  tape.members_.reserve(text.size() / 16 + 4);
  const bool later_wins = duplicates == JsonDuplicates::LaterWins;
  TapeBuilder builder(text, tape,
                      later_wins ? TapeBuilder::Mode::LaterWins : TapeBuilder::Mode::Refuse);
  if (!builder.run()) {
    if (auto key = later_wins ? std::nullopt : builder.first_duplicate()) {
      return json_internal::duplicate_member_message(*key);
    }
    std::string message = json_internal::refusal_message(text);
    // Empty only if the two grammars disagreed, which the tests and
    // scripts/fuzz json_tape look for.
    return message.empty() ? std::string("the text is not JSON") : message;
  }
  tape.text_ = std::move(text);
  // Each string with escapes is unescaped where it stands: the text is
  // the tape's own from here on.
  if (builder.escaped_strings() > 0) {
    char* const base = tape.text_.data();
    const char* const end = base + tape.text_.size();
    for (Token& token : tape.tokens_) {
      if (token.escaped) {
        char* body = base + token.data;
        token.size = static_cast<std::uint32_t>(unescape_in_place(body, end) - body);
        token.escaped = false;
      }
    }
  }
  return tape;
}

bool JsonTape::check(std::string_view text) {
  if (text.size() > kMaxText) {
    return false;
  }
  JsonTape unused;
  return TapeBuilder(text, unused, TapeBuilder::Mode::CheckOnly).run();
}
}  // namespace vellumo
