// Reading the marker file: only strict JSON in one of the two accepted
// shapes gives a marker, and a marker written back reads the same.

#include "agent_integration/marker.h"

#include <string>

#include "agent_integration/json_members.h"
#include "core/json.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellumo;
  const std::string_view text = fuzz::as_text(data, size);
  const auto marker = agents::parse_marker(text);

  // The library reads past a byte order mark; strict JSON has none.
  auto value = text.starts_with("\xEF\xBB\xBF")
                   ? Result<Json, std::string>(Err{std::string("a byte order mark")})
                   : parse_json(text);  // refuses doubled names
  if (marker) {
    FUZZ_CHECK(agents::check_json(text));
    FUZZ_CHECK(agents::parse_marker(agents::marker_text(marker->cli, marker->removed)) == marker);
  }
  if (!value) {
    return 0;
  }
  // Where the library can read the text, the marker is what it reads.
  if (value->is_object()) {
    const bool complete = value->contains("cli") && value->at("cli").is_string() &&
                          value->contains("removed") && value->at("removed").is_boolean();
    FUZZ_CHECK(complete == marker.has_value());
    if (complete) {
      FUZZ_CHECK(marker->cli == value->at("cli").get_ref<const std::string&>());
      FUZZ_CHECK(marker->removed == value->at("removed").get<bool>());
    }
  } else if (value->is_array() && value->size() == 2 && value->at(0).is_string() &&
             value->at(1).is_boolean()) {
    FUZZ_CHECK(marker && marker->cli == value->at(0).get_ref<const std::string&>() &&
               marker->removed == value->at(1).get<bool>());
  } else {
    FUZZ_CHECK(!marker);
  }
  return 0;
}
