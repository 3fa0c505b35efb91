// tervo lint: parses rule files as the signature engine does and reports
// what a rule author must fix or may have meant otherwise.
#ifndef TERVO_HOST_CLI_RULE_LINT_H_
#define TERVO_HOST_CLI_RULE_LINT_H_

#include <string>
#include <vector>

namespace tervo_cli {

struct LintOptions {
  std::vector<std::string> paths;  // files, or folders of <prefix>*.slf files
  std::string prefix = "im";       // the rule set a folder holds
  std::string regex_folder;        // where libfernwick.so is; empty: patterns unchecked
};

struct LintMessage {
  std::string file;
  int line;
  bool error;  // else a warning
  std::string text;
};

struct LintResult {
  std::vector<LintMessage> messages;  // in file order, then the whole-set warnings
  std::string printed;                // every rule built, in one layout
  std::string note;                   // why patterns went unchecked, or empty
  int files = 0, rules = 0, signatures = 0, apm_rules = 0, discarded = 0;
  int errors = 0, warnings = 0;
};

LintResult LintRules(const LintOptions& options);

// "N rules, N signatures, N APM rules, N discarded, N errors, N warnings".
std::string LintSummary(const LintResult& result);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_RULE_LINT_H_
