#include "cli/parse_options.h"

#include <string_view>

namespace vellumo {

Result<CommandLine> parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  CliOptions& options = line.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word == "-h" || word == "--help") {
      line.words.insert(line.words.begin(), "help");
    } else if (word == "-V" || word == "--version") {
      line.words.insert(line.words.begin(), "version");
    } else if (word == "--detach") {
      options.detach = true;
    } else if (word == "--no-launch") {
      options.no_launch = true;
    } else if (word == "--confirm" || word == "--yes") {
      options.confirm = true;
    } else if (word == "--cleaned") {
      options.cleaned = true;
    } else if (word.size() > 2 && word.starts_with("--")) {
      std::string_view name = std::string_view(word).substr(2);
      if (auto equals = name.find('='); equals != std::string_view::npos) {
        options.values.insert_or_assign(std::string(name.substr(0, equals)),
                                        std::string(name.substr(equals + 1)));
      } else if (i + 1 < args.size()) {
        options.values.insert_or_assign(std::string(name), args[++i]);
      } else {
        return CliError::usage(word + " needs a value.");
      }
    } else {
      line.words.push_back(word);
    }
  }
  return line;
}

}  // namespace vellumo
