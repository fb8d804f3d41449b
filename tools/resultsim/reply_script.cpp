#include "reply_script.h"

#include <fnmatch.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "wire_text.h"

namespace lapora::resultsim {

namespace {

// "keyword" or "keyword TEXT": the text is everything after the first blank, kept verbatim so
// that trailing blanks can be sent.
bool SplitKeyword(const std::string& line, std::string& keyword, std::string& rest) {
  const size_t blank = line.find(' ');
  keyword = line.substr(0, blank);
  rest = blank == std::string::npos ? "" : line.substr(blank + 1);
  return blank != std::string::npos;
}

bool ParseCount(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  value = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
  return true;
}

}  // namespace

bool CReplyScript::Load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the script " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  m_rules.clear();
  int lineNumber = 0;
  for (std::string line : Split(ToCp1252IfUtf8(content.str()), '\n')) {
    ++lineNumber;
    while (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const size_t indent = line.find_first_not_of(" \t");
    if (indent == std::string::npos || line[indent] == '#') {
      continue;
    }
    line.erase(0, indent);
    const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
    std::string keyword;
    std::string rest;
    const bool hasText = SplitKeyword(line, keyword, rest);
    if (keyword == "on") {
      CScriptRule rule;
      rule.sourceLine = lineNumber;
      if (!rest.empty() && rest[0] == '#') {
        if (!ParseCount(rest.substr(1), rule.lineNumber) || rule.lineNumber == 0) {
          error = where + "'on #N' needs a line number from 1";
          return false;
        }
      } else {
        std::string problem;
        if (rest.empty() || !UnescapeText(rest, rule.pattern, problem)) {
          error = where + (rest.empty() ? "'on' needs #N or a pattern" : problem);
          return false;
        }
      }
      m_rules.push_back(std::move(rule));
      continue;
    }
    if (m_rules.empty()) {
      error = where + "'" + keyword + "' before the first 'on' line";
      return false;
    }
    CScriptRule& rule = m_rules.back();
    CScriptAction action;
    if (keyword == "send" || keyword == "raw") {
      std::string problem;
      if (!UnescapeText(rest, action.bytes, problem)) {
        error = where + problem;
        return false;
      }
      action.kind = keyword == "send" ? CScriptAction::Kind::kSend : CScriptAction::Kind::kRaw;
    } else if (keyword == "delay") {
      if (!ParseCount(rest, action.delayMs)) {
        error = where + "'delay' needs milliseconds";
        return false;
      }
      action.kind = CScriptAction::Kind::kDelay;
    } else if (keyword == "default" && !hasText) {
      action.kind = CScriptAction::Kind::kDefault;
    } else if (keyword == "close" && !hasText) {
      action.kind = CScriptAction::Kind::kClose;
    } else if (keyword == "once" && !hasText) {
      rule.once = true;
      continue;
    } else if (keyword == "silent" && !hasText) {
      continue;  // a rule without actions answers nothing; the word only documents it
    } else {
      error = where + "unknown script line '" + line + "'";
      return false;
    }
    rule.actions.push_back(std::move(action));
  }
  return true;
}

const CScriptRule* CReplyScript::Match(int lineNumber, const std::string& line) {
  for (CScriptRule& rule : m_rules) {
    if (rule.once && rule.firedOnConnection) {
      continue;
    }
    const bool matches = rule.lineNumber > 0
                             ? rule.lineNumber == lineNumber
                             : fnmatch(rule.pattern.c_str(), line.c_str(), FNM_NOESCAPE) == 0;
    if (matches) {
      rule.firedOnConnection = true;
      return &rule;
    }
  }
  return nullptr;
}

void CReplyScript::ResetConnection() {
  for (CScriptRule& rule : m_rules) {
    rule.firedOnConnection = false;
  }
}

}  // namespace lapora::resultsim
