#include "cli/input.h"

#include "core/paths.h"
#include "core/text.h"
#include "core/utf8.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace vellumo {
namespace {

Result<std::string> read_standard_input() {
  std::string text;
  std::string buffer(std::size_t{1} << 16, '\0');
  for (;;) {
    auto got = platform::read_stdin(buffer.data(), buffer.size());
    if (!got) {
      return CliError::failed(std::move(got).error());
    }
    if (*got == 0) {
      break;
    }
    if (text.size() + *got > kMaxTextInput) {
      return CliError::failed("standard input is larger than " + std::to_string(kMaxTextInput) +
                              " bytes");
    }
    text.append(buffer.data(), *got);
  }
  if (!is_valid_utf8(text)) {
    return CliError::failed(std::string(kNotUtf8Text));
  }
  return text;
}

}  // namespace

Result<std::string> read_text_input(const std::string* text, const std::string* file) {
  if ((text == nullptr) == (file == nullptr)) {
    return CliError::usage("Pass --text \"...\" or --file <path> (use - for stdin).");
  }
  if (text != nullptr) {
    return *text;
  }
  if (*file == "-") {
    return read_standard_input();
  }
  auto content = files::read_file(*file, kMaxTextInput);
  if (!content) {
    return CliError::failed("Cannot read " + *file + ": " + content.error());
  }
  if (!is_valid_utf8(*content)) {
    return CliError::failed("Cannot read " + *file + ": " + std::string(kNotUtf8Text));
  }
  return std::move(content).value();
}

Result<std::string> absolute_path(const std::string& path) {
  if (is_absolute_path(path, platform::kPathStyle)) {
    return path;
  }
  auto current = platform::current_directory();
  if (!current) {
    return CliError::failed(std::move(current).error());
  }
  return resolve_against(*current, path, platform::kPathStyle);
}

}  // namespace vellumo
