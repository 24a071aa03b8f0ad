// libFuzzer: arbitrary bytes to parse_json and to the tape, which must take
// the same decision, refuse with the same message, and give the same value
// and the same printed text.

#include "core/json_tape.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/json.h"
#include "support/json_kinds.h"

namespace {

[[noreturn]] void disagree(const char* what, const std::string& json, const std::string& tape) {
  std::fprintf(stderr,
               "the tape and parse_json disagree on %s:\n  parse_json: %s\n  tape:       %s\n",
               what, json.c_str(), tape.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Where the later of two members wins, and when it only checks, the
  // tape follows parse_json_tolerant.
  auto tolerant = parse_json_tolerant(text, [](const JsonKeyPath&) {});
  auto later_wins = JsonTape::parse(text, JsonDuplicates::LaterWins);
  if (JsonTape::check(text) != tolerant.ok() || later_wins.ok() != tolerant.ok()) {
    disagree("the decision with duplicates", tolerant ? "accepted" : tolerant.error(),
             later_wins ? "accepted" : later_wins.error());
  }
  if (tolerant && later_wins->root().to_json() != *tolerant) {
    disagree("the value with duplicates", to_json_compact(*tolerant),
             to_json_compact(later_wins->root().to_json()));
  }
  auto json = parse_json(text);
  auto tape = JsonTape::parse(text);
  if (json.ok() != tape.ok()) {
    disagree("the decision", json ? "accepted" : json.error(), tape ? "accepted" : tape.error());
  }
  if (!json) {
    if (json.error() != tape.error()) {
      disagree("the message", json.error(), tape.error());
    }
    return 0;
  }
  std::string from_json;
  std::string from_tape;
  write_json_pretty(from_json, *json);
  write_json_pretty(from_tape, tape->root());
  if (from_json != from_tape) {
    disagree("the printed text", from_json, from_tape);
  }
  const Json converted = tape->root().to_json();
  if (converted != *json || !test::same_kinds(converted, *json)) {
    disagree("the value", to_json_compact(*json), to_json_compact(converted));
  }
  return 0;
}
