// The App's saved state: the library and settings files in the data folder.

#include "standin_app/app.h"

#include "platform/files.h"
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

  const std::string library_path = files::join(config_.data_folder, "library.json");
  auto library_bytes = files::read_whole_file(library_path);
  if (!library_bytes) {
    TRY_STATUS(set_aside(library_path, library_bytes.error()));
  } else if (*library_bytes) {
    auto library = library_from_text(**library_bytes);
    if (library) {
      library_ = std::move(library).value();
    } else {
      TRY_STATUS(set_aside(library_path, library.error()));
    }
  }

  const std::string settings_path = files::join(config_.data_folder, "settings.json");
  auto settings_bytes = files::read_whole_file(settings_path);
  if (!settings_bytes) {
    TRY_STATUS(set_aside(settings_path, settings_bytes.error()));
  } else if (*settings_bytes) {
    auto saved = parse_json(**settings_bytes);
    if (saved && saved->is_object()) {
      settings_ = settings_from_saved(*saved);
    } else {
      TRY_STATUS(set_aside(settings_path, saved ? "it is not a JSON object" : saved.error()));
    }
  }
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
