#include "process/quote_command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/split_command_line.h"

namespace vellumo::process {
namespace {

std::vector<std::string> words(std::string program, const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {std::move(program)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return all;
}

TEST(QuoteCommandLine, QuoteWindowsArgument) {
  EXPECT_EQ(quote_windows_argument(""), R"("")");
  EXPECT_EQ(quote_windows_argument("plain"), "plain");
  EXPECT_EQ(quote_windows_argument(R"(C:\dir\)"), R"(C:\dir\)");
  EXPECT_EQ(quote_windows_argument(R"(\\server\share)"), R"(\\server\share)");
  EXPECT_EQ(quote_windows_argument("a b"), R"("a b")");
  EXPECT_EQ(quote_windows_argument("a\tb"), "\"a\tb\"");
  EXPECT_EQ(quote_windows_argument("a\nb"), "\"a\nb\"");
  EXPECT_EQ(quote_windows_argument(R"(a"b)"), R"("a\"b")");
  EXPECT_EQ(quote_windows_argument(R"(a\"b)"), R"("a\\\"b")");
  EXPECT_EQ(quote_windows_argument(R"(C:\Program Files\)"), R"("C:\Program Files\\")");
  EXPECT_EQ(quote_windows_argument(R"(a\\ b\\)"), R"("a\\ b\\\\")");
  EXPECT_EQ(quote_windows_argument("%PATH%&^"), "%PATH%&^");  // no interpreter in between
}

TEST(QuoteCommandLine, WindowsCommandLine) {
  EXPECT_EQ(*windows_command_line(R"(C:\Program Files\claude.exe)", {"mcp", "get", "vellumo"}),
            R"("C:\Program Files\claude.exe" mcp get vellumo)");
  EXPECT_EQ(*windows_command_line("p.exe", {}), R"("p.exe")");
  EXPECT_EQ(windows_command_line(R"(C:\a"b.exe)", {}).error(),
            CommandLineError::InvalidProgramPath);
  EXPECT_EQ(windows_command_line("p.exe", {"ok", std::string("a\0b", 3)}).error(),
            CommandLineError::NulInArgument);
}

TEST(QuoteCommandLine, IsBatchFile) {
  EXPECT_TRUE(is_batch_file(R"(C:\npm\claude.cmd)"));
  EXPECT_TRUE(is_batch_file(R"(C:\npm\CLAUDE.CMD)"));
  EXPECT_TRUE(is_batch_file("x.Bat"));
  EXPECT_TRUE(is_batch_file("x.cmd."));
  EXPECT_TRUE(is_batch_file("x.cmd . . "));
  EXPECT_TRUE(is_batch_file(".cmd"));
  EXPECT_FALSE(is_batch_file(R"(C:\npm\claude.exe)"));
  EXPECT_FALSE(is_batch_file("x.cmdx"));
  EXPECT_FALSE(is_batch_file("x.cm d"));
  EXPECT_FALSE(is_batch_file("cmd"));
  EXPECT_FALSE(is_batch_file(""));
  EXPECT_FALSE(is_batch_file("..."));
}

// What cmd /c does to the text after /c, as far as these command lines go:
// % references expanded in one pass (a % that starts no known variable is
// kept and the scan goes on after it; var:~start,length takes a part), then
// the first and last quote dropped. `exposed` is set when one of
// & | < > ( ) ^ stands outside quotes, where the interpreter would act on it.
struct ThroughCmd {
  std::string text;
  bool exposed = false;
};

std::string expand_reference(const std::string& name,
                             const std::map<std::string, std::string>& vars, bool* known) {
  const std::size_t colon = name.find(":~");
  std::string var = name.substr(0, colon);
  for (char& c : var) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const auto found = vars.find(var);
  *known = found != vars.end();
  if (!*known || colon == std::string::npos) {
    return *known ? found->second : std::string();
  }
  const std::string value = found->second;
  const std::string range = name.substr(colon + 2);
  const std::size_t comma = range.find(',');
  const std::string start_text = range.substr(0, comma);
  long start = start_text.empty() ? 0 : std::stol(start_text);
  if (start < 0) {
    start += static_cast<long>(value.size());
  }
  start = std::clamp<long>(start, 0, static_cast<long>(value.size()));
  long length = static_cast<long>(value.size()) - start;
  if (comma != std::string::npos) {
    const std::string length_text = range.substr(comma + 1);
    length = length_text.empty() ? 0 : std::stol(length_text);
    if (length < 0) {
      length += static_cast<long>(value.size()) - start;
    }
  }
  length = std::clamp<long>(length, 0, static_cast<long>(value.size()) - start);
  return value.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
}

ThroughCmd through_cmd(const std::string& line) {
  const std::string prefix = "cmd.exe /e:ON /v:OFF /d /c ";
  EXPECT_EQ(line.substr(0, prefix.size()), prefix);
  const std::string rest = line.substr(prefix.size());
  const std::map<std::string, std::string> vars = {
      {"cd", R"(C:\here)"},
      {"path", R"(C:\bin;C:\tools)"},
      {"cmdcmdline", line},
      // Names the random arguments of the torture test can spell.
      {"a", "[a]"},
      {"z", "[z]"},
      {"0", "[0]"},
      {"a a", "[a a]"}};
  std::string expanded;
  for (std::size_t i = 0; i < rest.size();) {
    if (rest[i] != '%') {
      expanded += rest[i++];
      continue;
    }
    const std::size_t close = rest.find('%', i + 1);
    bool known = false;
    std::string value;
    if (close != std::string::npos) {
      value = expand_reference(rest.substr(i + 1, close - i - 1), vars, &known);
    }
    if (known) {
      expanded += value;
      i = close + 1;
    } else {
      expanded += '%';
      ++i;
    }
  }
  ThroughCmd result;
  const std::size_t first = expanded.find('"');
  const std::size_t last = expanded.rfind('"');
  EXPECT_EQ(first, 0u);
  EXPECT_NE(last, first);
  result.text = expanded.substr(first + 1, last - first - 1) + expanded.substr(last + 1);
  bool quoted = false;
  for (char c : result.text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && std::string_view("&|<>()^").find(c) != std::string_view::npos) {
      result.exposed = true;
    }
  }
  return result;
}

TEST(QuoteCommandLine, BatchCommandLineShape) {
  EXPECT_EQ(*batch_command_line(R"(C:\npm\claude.cmd)", {"mcp", "get", "vellumo"}),
            R"(cmd.exe /e:ON /v:OFF /d /c ""C:\npm\claude.cmd" mcp get vellumo")");
  EXPECT_EQ(*batch_command_line(R"(C:\a b\x.cmd)",
                                {"", "a b", "t\\", R"(a"b)", "%x%", "!x!", "C:/p_q-1.2@#$*+?"}),
            R"(cmd.exe /e:ON /v:OFF /d /c ""C:\a b\x.cmd" "" "a b" "t\\" "a""b" )"
            R"("%%cd:~,%x%%cd:~,%" "!x!" C:/p_q-1.2@#$*+?")");
  EXPECT_EQ(*batch_command_line(R"(C:\100%\x.cmd)", {}),
            R"(cmd.exe /e:ON /v:OFF /d /c ""C:\100%%cd:~,%\x.cmd"")");
  EXPECT_EQ(*batch_command_line("x.cmd", {"h\xC3\xA9"}),
            "cmd.exe /e:ON /v:OFF /d /c \"\"x.cmd\" \"h\xC3\xA9\"\"");
  for (const std::string& bad :
       std::vector<std::string>{"a\rb", "a\nb", "\n", std::string("a\0b", 3)}) {
    EXPECT_EQ(batch_command_line("x.cmd", {"ok", bad}).error(),
              CommandLineError::BatchArgumentInvalid);
  }
  EXPECT_EQ(batch_command_line(R"(C:\a"b.cmd)", {}).error(), CommandLineError::InvalidProgramPath);
  EXPECT_EQ(batch_command_line("C:\\dir\\", {}).error(), CommandLineError::InvalidProgramPath);
}

// Known attacks, then random arguments over the characters that matter to
// one parser or another: every one must come back whole, through the plain
// quoting and through the interpreter, with nothing exposed to it.
TEST(QuoteCommandLine, QuotingTortureTest) {
  const std::string script = R"(C:\Users\%USERNAME%\a&b (x)\claude.cmd)";
  const std::vector<std::vector<std::string>> known = {
      {"\"&echo pwned>marker"},
      {"%CMDCMDLINE:~-1%&echo pwned>marker"},
      {"\"%CMDCMDLINE:~-1%&echo pwned>marker"},
      {"%PATH%", "%%PATH%%", "%", "%%", "%cd%", "%cd:~,%", "100%"},
      {"!PATH!", "^", "^^", "^\"", "&|<>()", "a b", "a\tb"},
      {"trailing\\", "trailing\\\\", "\\\"&x", "\\\\\"&x", "\"", "\"\"", "\"\"\"", ""},
      {"mcp", "add", "--scope", "user", "vellumo", "--",
       R"(C:\Program Files\Vellumo\vellumo-cli.exe)", "mcp"},
  };
  for (const auto& arguments : known) {
    auto line = batch_command_line(script, arguments);
    ASSERT_TRUE(line);
    const ThroughCmd seen = through_cmd(*line);
    EXPECT_FALSE(seen.exposed) << *line;
    EXPECT_EQ(split_windows_command_line_with_program(seen.text), words(script, arguments))
        << *line;
  }

  std::vector<std::string> alphabet = {"\xC3\xA9", "\xE2\x9C\x93"};
  for (char c : std::string_view("aZ0 \t\"\\%!^&|<>()',;=*?~:\v")) {
    alphabet.emplace_back(1, c);
  }
  std::mt19937 random(20240409);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> arguments(random() % 4 + 1);
    for (std::string& argument : arguments) {
      const std::size_t length = random() % 8;
      for (std::size_t i = 0; i < length; ++i) {
        argument += alphabet[random() % alphabet.size()];
      }
    }
    auto plain = windows_command_line(R"(C:\Program Files\x.exe)", arguments);
    ASSERT_TRUE(plain);
    ASSERT_EQ(split_windows_command_line_with_program(*plain),
              words(R"(C:\Program Files\x.exe)", arguments))
        << *plain;

    auto batch = batch_command_line(R"(C:\x y\s.cmd)", arguments);
    ASSERT_TRUE(batch);
    const ThroughCmd seen = through_cmd(*batch);
    ASSERT_FALSE(seen.exposed) << *batch;
    ASSERT_EQ(split_windows_command_line_with_program(seen.text),
              words(R"(C:\x y\s.cmd)", arguments))
        << *batch;
  }
}

}  // namespace
}  // namespace vellumo::process
