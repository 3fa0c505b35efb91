// Fuzzes the rule-language parser and the rule builder: the input is parsed
// as a rule file and every rule is built. When the input is accepted, its
// rules printed and parsed again must be accepted and print the same text.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "src/engines/assl/parser/rule_printer.h"
#include "src/engines/assl/rule_table.h"

namespace {

// The engine's rule table, also keeping each rule as printed.
class PrintingTable : public nsAssl::RuleTable {
 public:
  bool AddRule(ascommon::UniquePtr<nsAssl::RecordedRule> rule) override {
    printed += nsAssl::PrintRule(*rule);
    return RuleTable::AddRule(std::move(rule));
  }
  std::string printed;
};

int Parse(const std::string& text, std::string* printed) {
  PrintingTable table;
  nsAssl::ParserState state(&table);
  state.SetInputString(text.data(), text.size(), "fuzz.slf");
  const int result = state.Parse();
  *printed = table.printed;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string printed;
  if (Parse(std::string(reinterpret_cast<const char*>(data), size), &printed) != nsAssl::kParseAccepted) {
    return 0;
  }
  std::string again;
  FUZZ_CHECK(Parse(printed, &again) == nsAssl::kParseAccepted, "printed rules do not parse:\n" + printed);
  FUZZ_CHECK(again == printed, "printing is not stable:\n" + printed + "---\n" + again);
  return 0;
}
