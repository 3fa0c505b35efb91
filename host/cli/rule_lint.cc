#include "host/cli/rule_lint.h"

#include <string.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "common/asfile.h"
#include "common/utf8.h"
#include "src/engines/assl/incslf_file.h"
#include "src/engines/assl/parser/parser_state.h"
#include "src/engines/assl/parser/rule_printer.h"
#include "src/engines/assl/rules/rule.h"
#include "src/engines/fernwick/fernwicklib.h"

namespace tervo_cli {

namespace {

using namespace nsAssl;

// What the whole-set checks need of a rule.
struct RuleFacts {
  std::string name, file;
  int line;
  bool reachable;  // a signature or an APM rule: the engine runs it
  std::vector<std::string> uses;  // rule names its expression reads
};

void CollectNames(const expr_t* node, std::vector<std::string>* out) {
  if (node == nullptr) return;
  if (node->leaf) {
    if (node->value_type == kValueName) out->emplace_back(node->name.data(), node->name.size());
    return;
  }
  CollectNames(node->left, out);
  CollectNames(node->right, out);
}

class Linter : public RuleSink, public ParseListener {
 public:
  Linter(const LintOptions& options, LintResult* result) : result_(result) {
    if (options.regex_folder.empty()) {
      result->note = "regular expressions not checked: no folder for libfernwick.so";
    } else if ((regex_ = nsFernwick::Load(options.regex_folder.c_str())) == nullptr) {
      result->note = "regular expressions not checked: no usable libfernwick.so in " +
                     options.regex_folder;
    }
  }
  ~Linter() override { nsFernwick::Release(regex_); }

  void LintFile(const std::string& path, bool im_set);
  // An incremental list: its syntax, then each changed rule's text, which
  // must define that one rule.
  void LintIncSlf(const std::string& path, bool im_set);
  void CheckSet();

  // RuleSink.
  uint64_t RuleCount() const override { return stored_; }
  bool AddRule(ascommon::UniquePtr<RecordedRule> rule) override;
  bool AddName(const ascommon::String& name, uint64_t) override {
    // A changed rule replaces the rule of its name.
    return names_.insert(std::string(name.data(), name.size())).second || InChangedRule();
  }
  // ParseListener.
  void OnMessage(Kind kind, int line, const char* text) override {
    if (kind == kDiscarded) ++result_->discarded;
    Report(file_, At(line), kind != kWarning, text);
  }

 private:
  void Report(const std::string& file, int line, bool error, const std::string& text) {
    result_->messages.push_back({file, line, error, text});
    ++(error ? result_->errors : result_->warnings);
  }
  void CheckRegex(const MatchCondition& match, int line);
  void ParseInput(ParserState* state);
  void LintChangedRule(const SChangedItem& item);
  // A line of the parser's input as a line of the file: changed rules are
  // parsed from their text, whose line k is line `line_offset_ + k`.
  int At(int line) const { return line + line_offset_; }
  bool InChangedRule() const { return line_offset_ > 0; }

  LintResult* result_;
  nsFernwick::RegExLib* regex_ = nullptr;
  std::string file_;
  bool im_set_ = false;
  int line_offset_ = 0;
  std::vector<std::string> parsed_names_;  // of the rules handed over
  uint64_t stored_ = 0;
  std::set<std::string> names_;
  std::vector<RuleFacts> facts_;
};

void Linter::LintFile(const std::string& path, bool im_set) {
  file_ = path;
  im_set_ = im_set;
  ++result_->files;
  try {
    ParserState state(this, this);
    if (!state.SetInputFile(path.c_str())) {
      Report(path, 0, true, "cannot read the file");
      return;
    }
    ParseInput(&state);
  } catch (const std::exception& e) {
    Report(path, 0, true, e.what());
  }
}

void Linter::ParseInput(ParserState* state) {
  const int parsed = state->Parse();
  if (parsed == kParseSyntaxError) {
    Report(file_, At(state->line()), true, "the parser could not recover: the rest of the file is not read");
  } else if (parsed == kParseExhausted) {
    Report(file_, At(state->line()), true, "the rules nest too deeply for the parser");
  }
}

void Linter::LintIncSlf(const std::string& path, bool im_set) {
  file_ = path;
  im_set_ = im_set;
  ++result_->files;
  CIncSlfFileInfo info;
  if (info.Load(path.c_str()) != 0) {
    if (info.error_line() > 0) {
      Report(path, info.error_line(), true, "parse error");
    } else {
      Report(path, 0, true, "cannot read the file");
    }
    return;
  }
  for (const SJobInfo& job : info.jobs()) {
    for (const SChangedItem& item : job.changed) LintChangedRule(item);
  }
  line_offset_ = 0;
}

void Linter::LintChangedRule(const SChangedItem& item) {
  const std::string name(item.name.data(), item.name.length());
  line_offset_ = item.line;
  parsed_names_.clear();
  try {
    ParserState state(this, this);
    state.SetInputString(item.text.data() != nullptr ? item.text.data() : "", item.text.length(),
                         file_.c_str());
    ParseInput(&state);
  } catch (const std::exception& e) {
    Report(file_, item.line, true, e.what());
  }
  if (parsed_names_.size() != 1) {
    Report(file_, item.line, true,
           "the text of " + name + " holds " + std::to_string(parsed_names_.size()) + " rules, not one");
  } else if (parsed_names_[0] != name) {
    Report(file_, item.line, true, "the text of " + name + " defines rule " + parsed_names_[0]);
  }
}

bool Linter::AddRule(ascommon::UniquePtr<RecordedRule> recorded) {
  RuleFacts facts{std::string(recorded->name.data(), recorded->name.size()), file_,
                  At(recorded->line), false, {}};
  parsed_names_.push_back(facts.name);
  int condition_line = facts.line;
  for (const RecordedItem& item : recorded->items) {
    if (item.group == kGroupCondition) {
      condition_line = At(item.line);
      if (const RecordedAttribute* root = item.Find(kAttrExprRoot)) CollectNames(root->expr, &facts.uses);
    }
    if (im_set_ && (item.code == kActSetCategory || item.code == kActIncreaseScore)) {
      Report(file_, At(item.line), false,
             std::string(item.code == kActSetCategory ? "set_category" : "increase_score") +
                 " does nothing on IM items (rule " + facts.name + "); mark sets the verdict");
    }
  }
  const std::string printed = PrintRule(*recorded);
  ascommon::UniquePtr<CRule> rule(CRule::Build(recorded.get(), this));
  if (rule == nullptr) return false;
  if (auto* phrases = dynamic_cast<const TokenMatchCondition*>(rule->condition())) {
    TokenMatchCondition probe;  // splits the phrases as the engine will
    try {
      probe.what = phrases->what;
      probe.Init(nullptr);
    } catch (const ASException& e) {
      const char* text = strstr(e.what(), "MESSAGE: ");
      Report(file_, condition_line, true, text != nullptr ? text + 9 : e.what());
    }
  } else if (auto* match = dynamic_cast<const MatchCondition*>(rule->condition())) {
    CheckRegex(*match, condition_line);
  }
  facts.reachable = rule->is_signature() || rule->is_apm_rule();
  result_->printed += printed;
  ++result_->rules;
  result_->signatures += rule->is_signature();
  result_->apm_rules += rule->is_apm_rule();
  facts_.push_back(std::move(facts));
  ++stored_;
  return true;
}

void Linter::CheckRegex(const MatchCondition& match, int line) {
  if (!match.IsRegex()) return;
  if (!match.RegexPlaceAllowed()) {
    Report(file_, line, true, "summary queries can only be performed on text parts or all headers");
    return;
  }
  sstring pattern;
  if (regex_ == nullptr || match.Pattern(&pattern) != 0) return;
  FernwickRegEx* regex = nsFernwick::CreateFastRegEx(regex_);
  if (regex == nullptr) return;
  if (regex->Compile(pattern.data(), pattern.length(), 0) != FERNWICK_OK) {
    Report(file_, line, true,
           std::string("regular expression refused (") + regex->ErrorText() + "): " + match.what.c_str());
  }
  nsFernwick::DeleteRegEx(regex_, regex);
}

// Names no rule defines, rules nothing runs, and cycles between rules.
void Linter::CheckSet() {
  std::map<std::string, const RuleFacts*> by_name;
  std::set<std::string> used;
  for (const RuleFacts& f : facts_) {
    by_name.emplace(f.name, &f);
    used.insert(f.uses.begin(), f.uses.end());
  }
  for (const RuleFacts& f : facts_) {
    std::set<std::string> told;
    for (const std::string& name : f.uses) {
      if (by_name.count(name) == 0 && told.insert(name).second) {
        Report(f.file, f.line, false, "rule " + f.name + " uses " + name + ", which no rule defines");
      }
    }
    if (!f.reachable && used.count(f.name) == 0) {
      Report(f.file, f.line, false,
             "rule " + f.name + " is never run: it is neither a signature nor an APM rule, and no "
             "expression uses it");
    }
  }
  // Depth-first over the first rule of each name; a name met again on the
  // current path closes a cycle.
  std::map<std::string, int> state;  // 1 on the path, 2 done
  std::vector<std::string> path;
  std::function<void(const RuleFacts&)> visit = [&](const RuleFacts& f) {
    state[f.name] = 1;
    path.push_back(f.name);
    for (const std::string& name : f.uses) {
      auto it = by_name.find(name);
      if (it == by_name.end()) continue;
      if (state[name] == 1) {
        std::string cycle;
        for (auto p = std::find(path.begin(), path.end(), name); p != path.end(); ++p) cycle += *p + " -> ";
        const RuleFacts& head = *by_name[name];
        Report(head.file, head.line, false, "rules refer to each other in a cycle: " + cycle + name);
      } else if (state[name] == 0) {
        visit(*it->second);
      }
    }
    path.pop_back();
    state[f.name] = 2;
  };
  for (const auto& [name, f] : by_name) {
    if (state[name] == 0) visit(*f);
  }
}

}  // namespace

LintResult LintRules(const LintOptions& options) {
  LintResult result;
  Linter linter(options, &result);
  for (const std::string& path : options.paths) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
      const std::string base = std::filesystem::path(path).filename().string();
      const bool im_set = base.compare(0, 2, "im") == 0;
      if (base.ends_with("_incslf.txt")) {
        linter.LintIncSlf(path, im_set);
      } else {
        linter.LintFile(path, im_set);
      }
      continue;
    }
    const std::string folder = path.back() == '/' ? path : path + "/";
    ascommon::FileList files;
    if (ascommon::ListFiles((folder + options.prefix + "*.slf").c_str(), &files) <= 0) {
      result.messages.push_back({path, 0, true, "holds no " + options.prefix + "*.slf files"});
      ++result.errors;
      continue;
    }
    for (uint64_t i = 0; i < files.GetCount(); ++i) {
      linter.LintFile(ascommon::Utf16ToUtf8({files[i].data(), files[i].length()}),
                      options.prefix == "im");
    }
  }
  linter.CheckSet();
  return result;
}

std::string LintSummary(const LintResult& r) {
  return std::to_string(r.rules) + " rules, " + std::to_string(r.signatures) + " signatures, " +
         std::to_string(r.apm_rules) + " APM rules, " + std::to_string(r.discarded) + " discarded, " +
         std::to_string(r.errors) + " errors, " + std::to_string(r.warnings) + " warnings";
}

}  // namespace tervo_cli
