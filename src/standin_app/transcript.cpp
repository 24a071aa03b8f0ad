#include "standin_app/transcript.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "core/utf8.h"

namespace vellumo::standin {
namespace {

constexpr std::size_t kMaxSpeakerBytes = 40;
constexpr std::size_t kMaxSpeakerWords = 4;
constexpr std::size_t kTitleWords = 8;
constexpr std::size_t kTitleBytes = 80;
constexpr std::size_t kSummaryLines = 5;

constexpr std::array<std::string_view, 10> kFillers = {"um", "umm", "uh",  "uhh", "erm",
                                                       "er", "ah",  "hmm", "mm",  "mhm"};
constexpr std::array<std::string_view, 9> kTaskMarks = {"todo",    "to do",   "action item",
                                                        "will ",   "need to", "needs to",
                                                        "should ", "let's ",  "follow up"};

bool is_space(char c) { return c == ' ' || c == '\t'; }
bool is_terminal(char c) { return c == '.' || c == '!' || c == '?'; }
bool is_trailing_punctuation(char c) { return is_terminal(c) || c == ',' || c == ';' || c == ':'; }

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

void capitalise(std::string& text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
  }
}

// Spaces and tabs only, the white space that parts words here (is_space):
// core's trim would also drop the Unicode spaces that words_of keeps inside
// a word, and the line feeds that part lines.
std::string_view trim_spaces(std::string_view text) {
  while (!text.empty() && is_space(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_space(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Every piece between line feeds, the last one included even when empty,
// so that joining them with line feeds gives the text back.
std::vector<std::string_view> pieces(std::string_view text) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t end = text.find('\n');
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) {
      return out;
    }
    text.remove_prefix(end + 1);
  }
}

template <class Lines>
std::string join(const Lines& lines, std::string_view separator) {
  std::string out;
  bool first = true;
  for (const auto& line : lines) {
    if (!first) {
      out += separator;
    }
    out += line;
    first = false;
  }
  return out;
}

std::vector<std::string_view> words_of(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && is_space(text[at])) {
      ++at;
    }
    std::size_t end = at;
    while (end < text.size() && !is_space(text[end])) {
      ++end;
    }
    if (end > at) {
      words.push_back(text.substr(at, end - at));
    }
    at = end;
  }
  return words;
}

// The text of a line without its speaker.
std::string_view body_of(std::string_view line) {
  auto turn = split_turn(line);
  return trim_spaces(turn ? turn->text : line);
}

std::string clean_words(std::string_view text) {
  std::vector<std::string> kept;
  for (std::string_view word : words_of(text)) {
    std::size_t core_end = word.size();
    while (core_end > 0 && is_trailing_punctuation(word[core_end - 1])) {
      --core_end;
    }
    const std::string core = lower_ascii(word.substr(0, core_end));
    const std::string_view punctuation = word.substr(core_end);
    const bool filler = std::find(kFillers.begin(), kFillers.end(), core) != kFillers.end();
    const bool repeat = !kept.empty() && !core.empty() &&
                        !is_trailing_punctuation(kept.back().back()) &&
                        lower_ascii(kept.back()) == core;
    if (!filler && !repeat) {
      kept.emplace_back(word);
      continue;
    }
    // The dropped word may end a sentence; the sentence still ends.
    if (!kept.empty() && !is_trailing_punctuation(kept.back().back())) {
      auto end = std::find_if(punctuation.begin(), punctuation.end(),
                              repeat ? is_trailing_punctuation : is_terminal);
      if (end != punctuation.end()) {
        kept.back() += *end;
      }
    }
  }
  std::string out = join(kept, " ");
  capitalise(out);
  return out;
}

// Cuts `text` to at most `limit` bytes, at a space when there is one, never
// inside a character.
std::string cut(std::string text, std::size_t limit) {
  if (text.size() <= limit) {
    return text;
  }
  std::size_t at = limit;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
    --at;
  }
  const std::size_t space = text.rfind(' ', at);
  text.resize(space != std::string::npos && space > 0 ? space : at);
  return text;
}

std::string first_sentence(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_terminal(text[i]) && (i + 1 == text.size() || is_space(text[i + 1]))) {
      return std::string(text.substr(0, i + 1));
    }
  }
  return std::string(text);
}

std::vector<std::string_view> text_lines(std::string_view transcript) {
  std::vector<std::string_view> lines;
  for (std::string_view line : pieces(transcript)) {
    if (!body_of(line).empty()) {
      lines.push_back(trim_spaces(line));
    }
  }
  return lines;
}

std::string formatted(std::string_view transcript) {
  std::vector<std::string> paragraphs;
  std::optional<std::string> speaker;  // of the paragraph being built
  bool open = false;                   // a paragraph is being built
  for (std::string_view line : pieces(transcript)) {
    const std::string_view body = body_of(line);
    if (body.empty()) {
      open = false;
      continue;
    }
    auto turn = split_turn(line);
    std::optional<std::string> who;
    if (turn) {
      who = std::string(turn->speaker);
    }
    if (open && who == speaker) {
      paragraphs.back() += ' ';
      paragraphs.back() += body;
    } else {
      paragraphs.push_back(who ? "**" + *who + ":** " + std::string(body) : std::string(body));
      speaker = who;
      open = true;
    }
  }
  return join(paragraphs, "\n\n");
}

}  // namespace

bool is_speaker_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxSpeakerBytes || is_space(name.front()) ||
      is_space(name.back()) || !is_valid_utf8(name)) {
    return false;
  }
  for (char c : name) {
    if (c == ':' || (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      return false;
    }
  }
  return words_of(name).size() <= kMaxSpeakerWords;
}

std::optional<Turn> split_turn(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view name = line.substr(0, colon);
  const std::string_view rest = line.substr(colon + 1);
  if (!is_speaker_name(name) || (!rest.empty() && !is_space(rest.front()))) {
    return std::nullopt;
  }
  return Turn{name, trim_spaces(rest)};
}

std::vector<SpeakerStats> speakers_of(std::string_view transcript) {
  std::vector<SpeakerStats> list;
  std::unordered_map<std::string_view, std::size_t> index;  // name -> place in the list
  for (std::string_view line : pieces(transcript)) {
    auto turn = split_turn(line);
    if (!turn) {
      continue;
    }
    auto [at, added] = index.try_emplace(turn->speaker, list.size());
    if (added) {
      list.push_back({std::string(turn->speaker)});
    }
    SpeakerStats& stats = list[at->second];
    ++stats.lines;
    stats.words += words_of(turn->text).size();
  }
  return list;
}

std::string rename_speaker(std::string_view transcript, std::string_view from,
                           std::string_view to) {
  std::vector<std::string> lines;
  for (std::string_view line : pieces(transcript)) {
    auto turn = split_turn(line);
    if (turn && turn->speaker == from) {
      lines.push_back(std::string(to) + ":" + (turn->text.empty() ? "" : " ") +
                      std::string(turn->text));
    } else {
      lines.emplace_back(line);
    }
  }
  return join(lines, "\n");
}

std::string strip_speakers(std::string_view transcript) {
  std::vector<std::string_view> lines;
  for (std::string_view line : pieces(transcript)) {
    auto turn = split_turn(line);
    lines.push_back(turn ? turn->text : line);
  }
  return join(lines, "\n");
}

std::string clean_transcript(std::string_view transcript) {
  std::vector<std::string> lines;
  for (std::string_view line : pieces(transcript)) {
    if (trim_spaces(line).empty()) {
      if (!lines.empty() && !lines.back().empty()) {
        lines.emplace_back();
      }
      continue;
    }
    auto turn = split_turn(line);
    std::string text = clean_words(turn ? turn->text : line);
    if (!text.empty()) {
      lines.push_back(turn ? std::string(turn->speaker) + ": " + text : text);
    }
  }
  while (!lines.empty() && lines.back().empty()) {
    lines.pop_back();
  }
  return join(lines, "\n");
}

std::string title_from(std::string_view transcript) {
  for (std::string_view line : pieces(transcript)) {
    const std::string text = clean_words(body_of(line));
    if (text.empty()) {
      continue;
    }
    std::string sentence = first_sentence(text);
    auto words = words_of(sentence);
    words.resize(std::min(words.size(), kTitleWords));
    std::string title = join(words, " ");
    while (!title.empty() && (is_trailing_punctuation(title.back()) || title.back() == '-')) {
      title.pop_back();
    }
    return cut(std::move(title), kTitleBytes);
  }
  return {};
}

Result<std::string, std::string> transcript_from_file(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }
  if (!is_valid_utf8(bytes)) {
    return Err{std::string("it is not UTF-8 text")};
  }
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
        ++i;
      }
      lines.emplace_back();
    } else {
      lines.back() += bytes[i];
    }
  }
  for (std::string& line : lines) {
    while (!line.empty() && is_space(line.back())) {
      line.pop_back();
    }
  }
  while (!lines.empty() && lines.back().empty()) {
    lines.pop_back();
  }
  auto first = std::find_if(lines.begin(), lines.end(), [](auto& l) { return !l.empty(); });
  lines.erase(lines.begin(), first);
  return join(lines, "\n");
}

std::optional<NotesPreset> notes_preset(std::string_view name) {
  if (name == "summary") {
    return NotesPreset::Summary;
  }
  if (name == "tasks") {
    return NotesPreset::Tasks;
  }
  if (name == "speakers") {
    return NotesPreset::Speakers;
  }
  if (name == "brief") {
    return NotesPreset::Brief;
  }
  if (name == "formattedTranscript") {
    return NotesPreset::FormattedTranscript;
  }
  return std::nullopt;
}

std::string make_notes(NotesPreset preset, std::string_view transcript) {
  std::string notes(kNotesHeader);
  notes += "\n\n";
  const auto lines = text_lines(transcript);
  switch (preset) {
    case NotesPreset::Summary: {
      notes += "The opening lines:\n";
      for (std::size_t i = 0; i < lines.size() && i < kSummaryLines; ++i) {
        notes += "\n- ";
        notes += lines[i];
      }
      if (lines.size() > kSummaryLines) {
        notes += "\n\n(" + std::to_string(lines.size() - kSummaryLines) + " more lines)";
      }
      break;
    }
    case NotesPreset::Tasks: {
      std::string tasks;
      for (std::string_view line : lines) {
        const std::string lower = lower_ascii(line);
        if (std::any_of(kTaskMarks.begin(), kTaskMarks.end(),
                        [&](std::string_view mark) { return lower.find(mark) != lower.npos; })) {
          tasks += "\n- [ ] ";
          tasks += line;
        }
      }
      notes += tasks.empty() ? "No line of the transcript looks like a task."
                             : "Lines that look like tasks:\n" + tasks;
      break;
    }
    case NotesPreset::Speakers: {
      const auto speakers = speakers_of(transcript);
      if (speakers.empty()) {
        notes += "The transcript names no speakers.";
      } else {
        notes += "Speakers:\n";
        for (const SpeakerStats& s : speakers) {
          notes += "\n- " + s.name + ": " + std::to_string(s.lines) +
                   (s.lines == 1 ? " line, " : " lines, ") + std::to_string(s.words) +
                   (s.words == 1 ? " word" : " words");
        }
      }
      break;
    }
    case NotesPreset::Brief:
      notes += "In brief: ";
      notes += lines.empty() ? std::string() : first_sentence(body_of(lines.front()));
      break;
    case NotesPreset::FormattedTranscript:
      notes += formatted(transcript);
      break;
  }
  return notes;
}

}  // namespace vellumo::standin
