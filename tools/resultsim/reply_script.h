// Scripted answers of the simulator: rules that replace the normal answer to chosen request
// lines (by their number on the connection or by a pattern), to produce any reply bytes.
// Not thread-safe; the simulator uses it from its one thread.
#pragma once

#include <string>
#include <vector>

namespace lapora::resultsim {

struct CScriptAction {
  enum class Kind { kSend, kRaw, kDelay, kDefault, kClose };
  Kind kind = Kind::kSend;
  std::string bytes;  // kSend: the line without its CR LF; kRaw: the exact bytes
  int delayMs = 0;
};

struct CScriptRule {
  int lineNumber = 0;   // > 0: the rule is for this line of each connection
  std::string pattern;  // otherwise: fnmatch pattern for the line without its trailing CRs
  bool once = false;
  std::vector<CScriptAction> actions;
  int sourceLine = 0;
  bool firedOnConnection = false;
};

class CReplyScript {
 public:
  [[nodiscard]] bool Load(const std::string& path, std::string& error);

  // The first rule for this line, or none. lineNumber counts the lines of the connection from 1;
  // line is without its trailing CRs.
  const CScriptRule* Match(int lineNumber, const std::string& line);

  // Forgets which "once" rules fired: each connection starts afresh.
  void ResetConnection();

  bool Empty() const { return m_rules.empty(); }

 private:
  std::vector<CScriptRule> m_rules;
};

}  // namespace lapora::resultsim
