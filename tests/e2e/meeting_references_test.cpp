// How a meeting reference becomes an ID: `latest`, a unique prefix, a full
// ID (which needs no list), and each way that fails.

#include "harness.h"

namespace vellumo::e2e {
namespace {

using MeetingReferences = E2eTest;

Json ok(Json result) { return Json{{"reply", Json{{"ok", true}, {"result", std::move(result)}}}}; }

TEST_F(MeetingReferences, LatestPrefixesAndFullIds) {
  const std::string newest = "c0ffee" + std::string(26, '0');
  const std::string older = "c0de" + std::string(28, '1');
  const std::string oldest = "bead" + std::string(28, '2');
  const Json list = Json::array({Json{{"title", "Newest"}, {"id", newest}}, Json{{"id", older}},
                                 Json{{"id", oldest}}, Json{{"title", "no id"}}, 5, "text"});
  Json s = scenario();
  s["replies"]["list_meetings"] = Json::array({
      ok(list),
      ok(list),
      ok(list),
      ok(list),
      ok(Json::array({Json{{"title", "no id"}}, Json{{"id", older}}})),
      ok(Json::array()),
  });
  s["replies"]["get_meeting"] = ok(Json{{"shown", true}});
  start_app(s);

  const std::string shown = "{\n  \"shown\": true\n}\n";
  const auto get_meeting = [](const std::string& id) {
    return request_line("get_meeting", "{\"id\":\"" + id + "\"}");
  };
  const std::string list_request = request_line("list_meetings");

  expect_output(cli({"meetings", "show", "latest"}), shown);
  expect_output(cli({"meetings", "show", "bea"}), shown);
  expect_output(cli({"meetings", "show", "c0f"}), shown);
  expect_error(cli({"meetings", "show", "c0"}), 1, "`c0` matches 2 meetings; use more characters.");
  // A full ID is used as it is, known or not.
  const std::string unknown = std::string(32, 'F');
  expect_output(cli({"meetings", "show", unknown}), shown);
  // The first meeting has no ID: there is no latest one.
  expect_error(cli({"meetings", "show", "latest"}), 1, "There are no meetings yet.");
  expect_error(cli({"meetings", "show", "latest"}), 1, "There are no meetings yet.");
  expect_error(cli({"meetings", "show", "zz"}), 1,
               "No meeting ID starts with `zz`. Run `vellumo-cli meetings list`.");

  EXPECT_EQ(requests(), (std::vector<std::string>{
                            list_request, get_meeting(newest), list_request, get_meeting(oldest),
                            list_request, get_meeting(newest), list_request, get_meeting(unknown),
                            list_request, list_request, list_request}));
}

}  // namespace
}  // namespace vellumo::e2e
