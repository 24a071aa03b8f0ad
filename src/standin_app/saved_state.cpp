// The App's saved state: the library and settings files in the data folder.

#include "platform/files.h"
#include "standin_app/app.h"
#include "standin_app/app_internal.h"
#include "standin_app/settings.h"

namespace vellumo::standin {

namespace {

// A time that can be part of a file name: "20240501T120000Z".
std::string file_time(const std::string& iso) {
  std::string out;
  for (char c : iso.substr(0, 19)) {
    if (c != '-' && c != ':') {
      out += c;
    }
  }
  return out + "Z";
}

}  // namespace

std::string App::media_folder() const { return files::join(config_.data_folder, "media"); }

Result<void, std::string> App::load() {
  Lock lock(mutex_);
  std::vector<std::string> problems;
  // A file that cannot be read is moved aside, never overwritten.
  auto set_aside = [&](const std::string& path,
                       const std::string& why) -> Result<void, std::string> {
    const std::string aside = path + ".unreadable-" + file_time(now_text());
    if (auto moved = files::rename_replacing(path, aside); !moved) {
      return "Cannot read " + path + " (" + why + "), nor set it aside: " + moved.error();
    }
    problems.push_back("Could not read " + path + " (" + why + "); it was set aside as " + aside +
                       ".");
    return {};
  };

  // One saved file: `take` uses its text, or says why it cannot; a file that
  // cannot be read or used is set aside. A missing file is no problem.
  const auto read_saved = [&](const char* name, auto&& take) -> Result<void, std::string> {
    const std::string path = files::join(config_.data_folder, name);
    auto bytes = files::read_whole_file(path);
    if (!bytes) {
      return set_aside(path, bytes.error());
    }
    if (!*bytes) {
      return {};
    }
    if (auto taken = take(**bytes); !taken) {
      return set_aside(path, taken.error());
    }
    return {};
  };
  TRY_STATUS(read_saved("library.json", [&](const std::string& text) -> Result<void, std::string> {
    auto library = library_from_text(text);
    if (!library) {
      return std::move(library).error();
    }
    library_ = std::move(library).value();
    return {};
  }));
  TRY_STATUS(read_saved("settings.json", [&](const std::string& text) -> Result<void, std::string> {
    auto saved = parse_json(text);
    if (!saved || !saved->is_object()) {
      return saved ? std::string("it is not a JSON object") : saved.error();
    }
    settings_ = settings_from_saved(*saved);
    return {};
  }));
  if (!problems.empty()) {
    problem_ = join_texts(problems, " ");
  }
  // Meetings that were running when the app last stopped are marked failed
  // by the reader; keep that on disk too.
  return save_library(library_);
}

Result<void, std::string> App::save_library(const Library& next) {
  return files::write_file_replacing(files::join(config_.data_folder, "library.json"),
                                     library_text(next));
}

Result<Meeting*, std::string> App::find_meeting(const std::string& id) {
  if (Meeting* m = library_.find(id)) {
    return m;
  }
  return Err{"No meeting has the ID `" + id + "`."};
}

}  // namespace vellumo::standin
