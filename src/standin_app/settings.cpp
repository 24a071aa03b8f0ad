#include "standin_app/settings.h"

#include <string>

namespace vellumo::standin {
namespace {

std::string unknown_model(std::string_view kind, const std::string& name,
                          std::string_view available) {
  return "Unknown " + std::string(kind) + " model `" + name + "`; the stand-in app has " +
         std::string(available) + ".";
}

// Why `value` cannot be the setting `key`, or an empty text when it can.
std::string refusal(const std::string& key, const Json& value) {
  const bool text = value.is_string();
  const std::string name = text ? value.get<std::string>() : std::string();
  if (key == "asrModel" || key == "meetingAsrModel") {
    if (!text) {
      return "`" + key + "` must be a model name.";
    }
    if (name != kSpeechModel && !(key == "meetingAsrModel" && name.empty())) {
      return unknown_model("speech", name, kSpeechModel);
    }
    return {};
  }
  if (key == "notesModel") {
    if (!text) {
      return "`notesModel` must be a model name.";
    }
    return name == kNotesModel ? std::string() : unknown_model("notes", name, kNotesModel);
  }
  if (key == "meetingSpeakerLabels") {
    return value.is_boolean() ? std::string() : "`meetingSpeakerLabels` must be true or false.";
  }
  if (key == "language") {
    return text && !name.empty() ? std::string() : "`language` must be a language code or auto.";
  }
  if (key == "vocabulary") {
    bool words = value.is_array();
    for (const Json& item : value) {
      words = words && item.is_string();
    }
    return words ? std::string() : "`vocabulary` must be a list of words.";
  }
  return "Unknown setting `" + key + "`.";
}

}  // namespace

Json default_settings() {
  return Json{
      {"asrModel", kSpeechModel},  {"meetingAsrModel", ""}, {"meetingSpeakerLabels", true},
      {"notesModel", kNotesModel}, {"language", "auto"},    {"vocabulary", Json::array()},
  };
}

Result<Json, std::string> apply_settings(const Json& current, const Json& changes) {
  if (!changes.is_object()) {
    return Err{std::string("The settings must be a JSON object.")};
  }
  Json next = current;
  for (const auto& [key, value] : changes.items()) {
    if (std::string why = refusal(key, value); !why.empty()) {
      return Err{std::move(why)};
    }
    next[key] = value;
  }
  return next;
}

Json settings_from_saved(const Json& saved) {
  Json settings = default_settings();
  if (saved.is_object()) {
    for (const auto& [key, value] : saved.items()) {
      if (refusal(key, value).empty()) {
        settings[key] = value;
      }
    }
  }
  return settings;
}

Json model_library() {
  return Json{
      {"speechModels",
       Json::array({Json{{"id", kSpeechModel},
                         {"installed", true},
                         {"description",
                          "Recognises no speech: takes the transcript from a UTF-8 text file "
                          "beside the media, with the media's name and the extension .txt."}}})},
      {"notesModels",
       Json::array({Json{
           {"id", kNotesModel},
           {"installed", true},
           {"description", "No language model: builds notes from the transcript's own lines."}}})},
  };
}

}  // namespace vellumo::standin
