// The tape is a second JSON grammar beside the library's: every test here
// holds it to parse_json's decision, message, value and printed form.

#include "core/json_tape.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "support/json_kinds.h"
#include "support/json_text.h"

namespace vellumo {
namespace {

using test::to_json_pretty;

// An object read member by member from its text, the later value of a key
// standing.
Json read_by_members(std::string_view text) {
  Json object = Json::object();
  JsonTextMembers members(text);
  for (std::string_view key, value; members.next(key, value);) {
    auto name = JsonTape::parse(std::string(1, '"').append(key).append(1, '"'));
    auto item = JsonTape::parse(std::string(value), JsonDuplicates::LaterWins);
    if (!name || !item) {
      return "a member that does not parse: " + std::string(key) + " " + std::string(value);
    }
    object[std::string(name->root().string())] = item->root().to_json();
  }
  return object;
}

// The tape must accept exactly what parse_json accepts, refuse with the
// same message, and give the same value and the same printed text; where
// the later of two members wins, and when it only checks, it must follow
// parse_json_tolerant.
void expect_same(const std::string& text) {
  SCOPED_TRACE(testing::Message() << "text: " << text.substr(0, 200));
  auto tolerant = parse_json_tolerant(text, [](const JsonKeyPath&) {});
  EXPECT_EQ(JsonTape::check(text), tolerant.ok());
  auto later_wins = JsonTape::parse(text, JsonDuplicates::LaterWins);
  ASSERT_EQ(later_wins.ok(), tolerant.ok());
  if (tolerant) {
    EXPECT_EQ(later_wins->root().to_json(), *tolerant);
    std::string compact;
    write_json_compact(compact, later_wins->root());
    EXPECT_EQ(compact, to_json_compact(*tolerant));
    if (tolerant->is_object() && !text.starts_with("\xEF\xBB\xBF")) {
      EXPECT_EQ(read_by_members(text), *tolerant);
    }
  }
  auto json = parse_json(text);
  auto tape = JsonTape::parse(text);
  ASSERT_EQ(json.ok(), tape.ok()) << (json ? tape.error() : json.error());
  if (!json) {
    EXPECT_EQ(json.error(), tape.error());
    return;
  }
  const Json converted = tape->root().to_json();
  EXPECT_EQ(converted, *json);
  EXPECT_TRUE(test::same_kinds(converted, *json));
  std::string pretty;
  write_json_pretty(pretty, tape->root());
  EXPECT_EQ(pretty, to_json_pretty(*json));
  std::string compact;
  write_json_compact(compact, tape->root());
  EXPECT_EQ(compact, to_json_compact(*json));
}

std::string printed(const std::string& text) {
  auto tape = JsonTape::parse(text);
  EXPECT_TRUE(tape) << tape.error();
  std::string out;
  if (tape) {
    write_json_compact(out, tape->root());
  }
  return out;
}

TEST(JsonTape, AgreesWithTheParserOnTrickyTexts) {
  const std::vector<std::string> texts = {
      // Whitespace, literals, trailing bytes, byte order marks.
      "",
      " ",
      " \r\n\t{\"a\":1} \n",
      "\xEF\xBB\xBF{}",
      "\xEF\xBB{}",
      " \xEF\xBB\xBF{}",
      "null",
      "true",
      "false",
      "nul",
      "tru",
      "falsey",
      "NaN",
      "Infinity",
      "{} x",
      "{}x",
      "1 2",
      "[1 2]",
      "[1,]",
      "[,1]",
      "{,}",
      "{\"a\"}",
      "{\"a\":}",
      "{\"a\" 1}",
      "{1:2}",
      "[",
      "]",
      "{",
      "\"abc",
      "\"abc\\",
      "[\"a\",\"b\"",
      "{'a':1}",
      "[1]]",
      "[1]}",
      // Every escape; surrogate pairs and lone surrogates.
      "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"",
      "\"\\x\"",
      "\"\\u12\"",
      "\"\\u12g4\"",
      "\"\\U0041\"",
      "\"\\u0000\"",
      "\"\\u001f\\u007f\\u0080\"",
      "\"\\u00e9\\u20AC\\uFFFF\"",
      "\"\\ud83d\\ude00\"",
      "\"\\uD834\\uDD1E\"",
      "\"\\ud83d\"",
      "\"\\ude00\"",
      "\"\\ud83dx\"",
      "\"\\ud83d\\u0041\"",
      "\"\\ud83d\\ud83d\"",
      "\"\\ude00\\ud83d\"",
      "\"\\ud83d\\",
      // High bytes where an escape's letter or digits belong.
      "\"\\\xff\"",
      "\"\\u00\xff\"",
      "\"\\u\xff\xfe\xfd\xfc\"",
      "\"\\ud83d\\u\xff\xff\xff\xff\"",
      "\"ab\\ud83d\\ude00cdefghijklmnop\\n\"",
      // Raw bytes inside and outside strings.
      "\"a\nb\"",
      "\"a\tb\"",
      "\"\x7f\"",
      "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"",
      "\"\xff\"",
      "\xff",
      "\"\xc0\x80\"",
      "\"\xc2\"",
      "\"\xe2\x82\"",
      "\"\xed\xa0\x80\"",
      "\"\xed\x9f\xbf\"",
      "\"\xf4\x8f\xbf\xbf\"",
      "\"\xf4\x90\x80\x80\"",
      "\"\xf5\x80\x80\x80\"",
      "\"\xe0\x9f\xbf\"",
      "\"\xf0\x8f\xbf\xbf\"",
      "\"\x80\"",
      "[\xc3\xa9]",
      std::string("\"a\0b\"", 5),
      std::string("[1]\0", 4),
      std::string("[1,\0]", 6),
      std::string("{}\n \0x", 6),
      std::string("\0", 1),
      // Numbers at the edges of int64, uint64 and double.
      "0",
      "-0",
      "-0.0",
      "0.0",
      "01",
      "-01",
      "1.",
      ".5",
      "-",
      "--1",
      "+1",
      "1e",
      "1e+",
      "1E5",
      "1e-5",
      "1.5E+3",
      "[1e999]",
      "1e400",
      "-1e400",
      "1e-400",
      "-1e-400",
      "4.9e-324",
      "2e-324",
      "1.7976931348623157e308",
      "1.7976931348623159e308",
      "9223372036854775807",
      "9223372036854775808",
      "-9223372036854775808",
      "-9223372036854775809",
      "18446744073709551615",
      "18446744073709551616",
      std::string("1").append(400, '0'),
      std::string("-1").append(400, '0').append(".5"),
      std::string("0.").append(400, '0').append("1"),
      "1e99999999999999999999",
      "1e-99999999999999999999",
      "0e99999999999999999999",
      "123.456e-789",
      // Duplicates, and which one is named.
      "{\"a\":1,\"a\":2}",
      "{\"ok\":true,\"ok\":false}",
      "{\"a\":{},\"b\":{},\"a\":[]}",
      "{\"\\u0061\":1,\"a\":2}",
      "{\"a\":[{\"b\":1,\"b\":1}]}",
      "{\"a\":{\"b\":1},\"b\":{\"a\":1}}",
      "{\"x\":1,\"x\":{\"a\":1,\"a\":2}}",
      "{\"a\":1,\"b\":{\"c\":1,\"c\":2},\"a\":3}",
      "{\"b\":1,\"a\":1,\"b\":2,\"a\":2}",
      "{\"a\":1,\"a\"",
      "{\"a\":1,\"a\":2 x",
      "{\"a\":1,\"a\":",
      "{\"\":1,\"\":2}",
      // Sorting by key bytes.
      "{\"b\":[1,{\"z\":null,\"a\":true}],\"a\":{},\"c\":[],\"d\":-5,\"f\":1e2}",
      "{\"\\u00e9\":1,\"Z\":2,\"a\":3,\"_\":4,\"ab\":5,\"\":6,\"a\\u0000\":7}",
  };
  for (const std::string& text : texts) {
    expect_same(text);
  }
}

TEST(JsonTape, AgreesWithTheParserOnNestingAtTheLimit) {
  expect_same(std::string(128, '[') + std::string(128, ']'));
  expect_same(std::string(129, '[') + std::string(129, ']'));
  expect_same(std::string(1000000, '['));
  std::string objects;
  for (int i = 0; i < 128; ++i) {
    objects += "{\"a\":";
  }
  expect_same(objects + "1" + std::string(128, '}'));
  expect_same(objects + "[1]" + std::string(128, '}'));
  // A duplicate before the nesting fault is the one reported.
  expect_same("{\"a\":1,\"a\":" + std::string(200, '['));
  expect_same("{\"a\":" + std::string(200, '[') + "],\"a\":1}");
}

TEST(JsonTape, KeepsNumberKindsAndPrintsThemAsTheWriterDoes) {
  EXPECT_EQ(printed("[0,-0,-0.0,1E5,1e-400,-1e-400,18446744073709551616,-9223372036854775809]"),
            "[0,0,-0.0,100000.0,0.0,-0.0,1.8446744073709552e19,-9.223372036854776e18]");
  auto tape = JsonTape::parse("[-1,18446744073709551615,2.5]");
  ASSERT_TRUE(tape);
  std::vector<JsonKind> kinds;
  for (const JsonNode item : tape->root().items()) {
    kinds.push_back(item.kind());
  }
  EXPECT_EQ(kinds, (std::vector<JsonKind>{JsonKind::Integer, JsonKind::Unsigned, JsonKind::Float}));
  EXPECT_EQ(tape->root().to_json()[1].get<std::uint64_t>(), 18446744073709551615u);
}

TEST(JsonTape, ReadsItemsMembersAndKeys) {
  auto tape = JsonTape::parse(
      R"({"z":[1,[2,3],{"x":"y"},"s\n"],"a\u00e9":{"k":null},"m":true,"empty":{}, "e":[]})");
  ASSERT_TRUE(tape) << tape.error();
  const JsonNode root = tape->root();
  ASSERT_TRUE(root.is_object());
  EXPECT_EQ(root.size(), 5u);
  std::vector<std::string> keys;
  for (const auto& [key, value] : root.members()) {
    keys.emplace_back(key);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"a\xc3\xa9", "e", "empty", "m", "z"}));

  const auto z = root.find("z");
  ASSERT_TRUE(z && z->is_array());
  EXPECT_EQ(z->size(), 4u);
  std::vector<Json> items;
  for (const JsonNode item : z->items()) {
    items.push_back(item.to_json());
  }
  EXPECT_EQ(items, (std::vector<Json>{1, Json({2, 3}), Json{{"x", "y"}}, "s\n"}));
  EXPECT_EQ(root.find("a\xc3\xa9")->find("k")->kind(), JsonKind::Null);
  EXPECT_TRUE(root.find("m")->boolean());
  EXPECT_FALSE(root.find("a"));
  EXPECT_FALSE(root.find("zz"));
  EXPECT_FALSE(z->find("z"));
  EXPECT_EQ(root.find("empty")->size(), 0u);
  EXPECT_TRUE(root.find("e")->items().begin() == root.find("e")->items().end());
  EXPECT_TRUE(root.find("m")->items().begin() == root.find("m")->items().end());
  EXPECT_EQ(root.find("m")->string(), "");

  // Narrowed to a member, the tape is that member's value.
  tape->narrow_to(*z);
  EXPECT_EQ(tape->root().to_json(), Json::array({1, Json({2, 3}), Json{{"x", "y"}}, "s\n"}));
  EXPECT_TRUE(JsonTape().root().is_null());
}

TEST(JsonTape, UnescapesStringsOfEveryLengthInPlace) {
  // Runs and escapes of every length around the eight-byte word, so that
  // every way the output can lag its input is met.
  for (int run = 0; run < 20; ++run) {
    for (const std::string escape : {"\\n", "\\u00e9", "\\ud83d\\ude00", "\\/", "\\\""}) {
      std::string text = "[\"";
      std::string key = "{\"";
      for (int i = 0; i < 12; ++i) {
        text += std::string(static_cast<std::size_t>((run + i) % 11), 'a' + i) + escape;
        key += std::string(static_cast<std::size_t>(run % 9), 'k') + escape;
      }
      text += "\",\"tail\"]";
      expect_same(text);
      expect_same(key + "\":" + text + "," + key.substr(1) + "x\":1}");
    }
  }
}

TEST(JsonTape, PrintsLongStringsInPiecesCutBetweenCharacters) {
  // Three-byte characters, so that a cut at a fixed size would split one.
  std::string text = "\"";
  std::string expected = "\"";
  for (int i = 0; i < 800000; ++i) {
    text += i % 1000 == 999 ? "\\n" : "\xe2\x82\xac";
    expected += i % 1000 == 999 ? "\\n" : "\xe2\x82\xac";
  }
  text += "\"";
  expected += "\"";
  auto tape = JsonTape::parse(text);
  ASSERT_TRUE(tape);
  std::string out;
  std::string drained;
  int pieces = 0;
  write_json_pretty(out, tape->root(), [&](std::string& buffer) {
    EXPECT_TRUE(is_valid_utf8(buffer.substr(pieces == 0 ? 1 : 0)));
    EXPECT_LT(buffer.size(), std::size_t{2} << 20);  // a piece of 1 MiB, escaped
    drained += buffer;
    buffer.clear();
    ++pieces;
  });
  drained += out;
  EXPECT_GT(pieces, 1);
  EXPECT_EQ(drained, expected);
}

// Generated documents of every shape, and bytes changed in some of them.
std::string generated(std::mt19937& random, int depth) {
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  static const char* const kPieces[] = {"a",
                                        "bc",
                                        "\\\"",
                                        "\\\\",
                                        "\\/",
                                        "\\b",
                                        "\\f",
                                        "\\n",
                                        "\\r",
                                        "\\t",
                                        "\\u0000",
                                        "\\u001F",
                                        "\\u00e9",
                                        "\\u20AC",
                                        "\\ud83d\\ude00",
                                        "\xc3\xa9",
                                        "\xe2\x82\xac",
                                        "\xf0\x9f\x98\x80",
                                        " ",
                                        "xyzxyzxyz",
                                        "\x7f",
                                        "\\uDBFF\\uDFFF"};
  static const char* const kNumbers[] = {"0",
                                         "-0",
                                         "7",
                                         "-12",
                                         "12345678901234567890",
                                         "-9223372036854775809",
                                         "1.5",
                                         "-0.0",
                                         "1e5",
                                         "1E-5",
                                         "2.5e+300",
                                         "1e400",
                                         "1e-400",
                                         "18446744073709551616",
                                         "4.9e-324",
                                         "0.1"};
  static const char* const kSpace[] = {"", " ", "\n", "\t\r "};
  const auto string = [&] {
    std::string s = "\"";
    const std::size_t n = pick(4) == 0 ? pick(40) : pick(6);
    for (std::size_t i = 0; i < n; ++i) {
      s += kPieces[pick(std::size(kPieces))];
    }
    return s + "\"";
  };
  switch (depth > 5 ? pick(4) : pick(7)) {
    case 0:
      return pick(3) == 0 ? "null" : pick(2) ? "true" : "false";
    case 1:
      return kNumbers[pick(std::size(kNumbers))];
    case 2:
    case 3:
      return string();
    case 4:
    case 5: {
      std::string s = "[";
      for (std::size_t i = 0, n = pick(5); i < n; ++i) {
        s += i ? "," : "";
        s += kSpace[pick(4)];
        s += generated(random, depth + 1);
      }
      return s + "]";
    }
    default: {
      std::string s = "{";
      for (std::size_t i = 0, n = pick(6); i < n; ++i) {
        s += i ? "," : "";
        if (pick(3)) {
          s += "\"k";
          s += static_cast<char>('a' + pick(5));
          s += '"';
        } else {
          s += string();
        }
        s += kSpace[pick(4)];
        s += ':';
        s += generated(random, depth + 1);
      }
      return s + "}";
    }
  }
}

TEST(JsonTape, AgreesWithTheParserOnGeneratedTexts) {
  std::mt19937 random(20261207);
  int accepted = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string text = generated(random, 0);
    if (i % 3 == 0) {
      for (int changes = 1 + static_cast<int>(random() % 2); changes > 0 && !text.empty();
           --changes) {
        const std::size_t at = random() % text.size();
        switch (random() % 3) {
          case 0:
            text[at] = static_cast<char>(random() % 256);
            break;
          case 1:
            text.erase(at, 1);
            break;
          default:
            text.insert(at, 1, "{}[]\",:\\"[random() % 8]);
        }
      }
    }
    accepted += parse_json(text).ok();
    expect_same(text);
    if (HasFailure()) {
      break;
    }
  }
  EXPECT_GT(accepted, 2000);
}

}  // namespace
}  // namespace vellumo
