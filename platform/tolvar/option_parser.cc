#include "platform/tolvar/option_parser.h"

namespace Tolvar::AutoCli {
namespace {

const char kBlanks[] = " \t";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsOption(const std::string& word) { return !word.empty() && word[0] == '-'; }

// Appends the quoted text that starts after the quote at `at` to `word` and
// leaves `at` on the closing quote. False when the quote is not closed.
bool TakeQuoted(const std::string& line, size_t& at, std::string& word) {
  const char quote = line[at];
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == quote) return true;
    bool escaped = quote == '"' && c == '\\' && at + 1 < line.size() &&
                   (line[at + 1] == '"' || line[at + 1] == '\\');
    if (escaped) c = line[++at];
    word += c;
  }
  return false;
}

// Splits `line` into words; returns the error line, empty on success.
std::string SplitWords(const std::string& line, std::vector<std::string>& words) {
  std::string word;
  bool inWord = false;
  for (size_t at = 0; at < line.size(); ++at) {
    char c = line[at];
    if (IsBlank(c)) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (++at == line.size()) return "Trailing backslash";
      word += line[at];
    } else if (c == '\'' || c == '"') {
      if (!TakeQuoted(line, at, word)) return "Unterminated quote";
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return "";
}

}  // namespace

bool OptionParser::ParseString(const std::string& line) {
  errors.clear();
  commandPath.clear();
  parameters.clear();

  // A comment is recognised before splitting, so that quotes in its text
  // do not count.
  size_t first = line.find_first_not_of(kBlanks);
  if (first == std::string::npos || line[first] == '#') return true;

  std::vector<std::string> words;
  std::string error = SplitWords(line, words);
  if (!error.empty()) {
    errors.push_back(error);
    return false;
  }
  // A quoted first word that begins with "#" is a comment all the same.
  if (words.front().starts_with('#')) return true;
  size_t next = 0;
  while (next < words.size() && !IsOption(words[next])) commandPath.push_back(words[next++]);
  if (commandPath.empty()) errors.push_back("Missing command");
  while (next < words.size()) ParseParameter(words, next);
  return false;
}

void OptionParser::ParseParameter(const std::vector<std::string>& words, size_t& next) {
  const std::string& word = words[next++];
  if (!IsOption(word)) {
    errors.push_back("Unexpected argument '" + word + "'");
    return;
  }
  bool isLong = word.starts_with("--");
  std::string spec = word.substr(isLong ? 2 : 1);
  size_t equals = spec.find('=');
  std::string name = spec.substr(0, equals);
  if (name.empty()) {
    errors.push_back("Empty option name");
    return;
  }
  if (!isLong && name.size() != 1) {
    errors.push_back("Unexpected argument '" + word + "'");
    return;
  }
  std::string value = "true";
  if (equals != std::string::npos) {
    value = spec.substr(equals + 1);
  } else if (next < words.size() && !IsOption(words[next])) {
    value = words[next++];
  }
  parameters.emplace_back(name, value);
}

}  // namespace Tolvar::AutoCli
