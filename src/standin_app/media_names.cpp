#include "standin_app/media_names.h"

#include "core/paths.h"
#include "platform/platform.h"

namespace vellumo::standin {

namespace {

// Where the last component of `path` starts.
std::size_t name_start(std::string_view path) {
  std::size_t at = path.size();
  while (at > 0 && !is_separator(path[at - 1], platform::kPathStyle)) {
    --at;
  }
  return at;
}

}  // namespace

std::string media_extension(std::string_view path) {
  const std::string_view name = path.substr(name_start(path));
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 12) {
    return {};
  }
  std::string ext(name.substr(dot));
  for (std::size_t i = 1; i < ext.size(); ++i) {
    char& c = ext[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
      return {};
    }
  }
  return ext.size() > 1 ? ext : std::string();
}

std::string stem_of(std::string_view path) {
  std::string_view name = path.substr(name_start(path));
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    name = name.substr(0, dot);
  }
  return std::string(name);
}

std::string transcript_file_of(std::string_view media) {
  const std::size_t start = name_start(media);
  const std::size_t dot = media.rfind('.');
  const std::size_t end = dot != std::string_view::npos && dot > start ? dot : media.size();
  return std::string(media.substr(0, end)) + ".txt";
}

}  // namespace vellumo::standin
