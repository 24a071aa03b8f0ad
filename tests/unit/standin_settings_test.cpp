#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "standin_app/settings.h"

namespace vellumo::standin {
namespace {

TEST(StandinSettings, ChecksEveryKey) {
  const Json defaults = default_settings();
  auto next = apply_settings(defaults, Json{{"meetingSpeakerLabels", false},
                                            {"meetingAsrModel", ""},
                                            {"vocabulary", Json::array({"Vellumo"})}});
  ASSERT_TRUE(next) << next.error();
  EXPECT_EQ((*next)["meetingSpeakerLabels"], false);
  EXPECT_EQ((*next)["vocabulary"], Json::array({"Vellumo"}));
  EXPECT_EQ((*next)["asrModel"], defaults["asrModel"]);

  const std::vector<std::pair<Json, std::string>> refused = {
      {Json{{"colour", "blue"}}, "Unknown setting `colour`."},
      {Json{{"asrModel", "large-v3"}},
       "Unknown speech model `large-v3`; the stand-in app has transcript-file."},
      {Json{{"asrModel", ""}}, "Unknown speech model ``; the stand-in app has transcript-file."},
      {Json{{"notesModel", 5}}, "`notesModel` must be a model name."},
      {Json{{"meetingSpeakerLabels", "yes"}}, "`meetingSpeakerLabels` must be true or false."},
      {Json{{"vocabulary", Json::array({"a", 1})}}, "`vocabulary` must be a list of words."},
      {Json::array(), "The settings must be a JSON object."},
  };
  for (const auto& [changes, message] : refused) {
    auto outcome = apply_settings(defaults, changes);
    ASSERT_FALSE(outcome) << changes;
    EXPECT_EQ(outcome.error(), message);
  }
  // A saved file keeps what is still valid.
  Json saved = settings_from_saved(
      Json{{"language", "de"}, {"asrModel", "gone"}, {"old", 1}, {"meetingSpeakerLabels", false}});
  Json expected = defaults;
  expected["language"] = "de";
  expected["meetingSpeakerLabels"] = false;
  EXPECT_EQ(saved, expected);
  EXPECT_EQ(settings_from_saved(Json("junk")), defaults);
}

}  // namespace
}  // namespace vellumo::standin
