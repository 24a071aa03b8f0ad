// The App's dictation requests.

#include <cstdint>

#include "standin_app/app.h"
#include "standin_app/app_internal.h"

namespace vellumo::standin {

namespace {

constexpr std::uint64_t kDefaultDictationLimit = 20;

}  // namespace

App::Reply App::start_dictation(Lock&, const Json&, bool) {
  if (dictation_started_) {
    return Err{std::string("A dictation is running already.")};
  }
  dictation_started_ = Clock::now();
  dictation_created_at_ = now_text();
  return Json{{"state", "dictating"}, {"error", nullptr}, {"outputText", nullptr}};
}

App::Reply App::stop_dictation(Lock&, const Json&, bool) {
  if (!dictation_started_) {
    return Err{std::string("No dictation is running.")};
  }
  const std::string message = std::string(kNoSpeech) + ": the dictation has no text.";
  Dictation d{new_id(), dictation_created_at_, seconds_since(*dictation_started_), "", {message}};
  TRY_STATUS(save([&](Library& next) -> Result<void, std::string> {
    next.dictations.push_back(d);
    if (next.dictations.size() > kMaxDictations) {
      next.dictations.erase(next.dictations.begin());
    }
    return {};
  }));
  dictation_started_.reset();
  return Json{
      {"state", "idle"}, {"error", message}, {"outputText", ""}, {"dictation", dictation_json(d)}};
}

App::Reply App::cancel_dictation(Lock&, const Json&, bool) {
  dictation_started_.reset();
  return Json{{"state", "idle"}, {"error", nullptr}, {"outputText", nullptr}};
}

App::Reply App::list_dictations(Lock&, const Json& args, bool) {
  std::uint64_t limit = kDefaultDictationLimit;
  if (auto it = args.find("limit"); it != args.end()) {
    limit = it->get<std::uint64_t>();
  }
  Json list = Json::array();
  const auto& all = library_.dictations;
  for (std::size_t i = 0; i < all.size() && i < limit; ++i) {
    list.push_back(dictation_json(all[all.size() - 1 - i]));
  }
  return list;
}

App::Reply App::copy_last_dictation(Lock&, const Json&, bool) {
  if (library_.dictations.empty()) {
    return Err{std::string("There is no dictation yet.")};
  }
  return Json{
      {"copied", false},
      {"text", library_.dictations.back().text},
      {"note", "The stand-in app has no clipboard access; the text is only returned here."}};
}

}  // namespace vellumo::standin
