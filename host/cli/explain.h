// tervo explain: why each filter decided as it did on a message. Each
// explainer loads the data its filter loads, from the same folders, and
// replays the filter's evaluation of one message keeping the details the
// filter does not report: the signatures and their matches, the words that
// counted, the sequences that scored, the key looked up.
#ifndef TERVO_HOST_CLI_EXPLAIN_H_
#define TERVO_HOST_CLI_EXPLAIN_H_

#include <stdint.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace tervo_cli {

using ojson = nlohmann::ordered_json;

struct ExplainSetup {
  std::string data_dir;
  std::string lib_dir;
  std::string temp_dir;
};

// One message as a filter sees it; a null second text or user is absent.
struct ExplainInput {
  const char* text;
  const char* second;
  const char* user;
  int32_t age;  // 0 adult, 1 teen, 2 child
};

class FilterExplainer {
 public:
  virtual ~FilterExplainer() = default;
  // The display name of the filter explained.
  virtual const char* FilterName() const = 0;
  // Loads the filter's data; false with the reason.
  virtual bool SetUp(const ExplainSetup& setup, std::string* error) = 0;
  virtual ojson Explain(const ExplainInput& input) = 0;
  // Appends the explanation as indented lines of text.
  virtual void Print(const ojson& explanation, std::string* out) const = 0;
};

std::unique_ptr<FilterExplainer> NewSignatureExplainer();
std::unique_ptr<FilterExplainer> NewWordsExplainer();
std::unique_ptr<FilterExplainer> NewMarkovianExplainer();
std::unique_ptr<FilterExplainer> NewBlacklistExplainer();

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_EXPLAIN_H_
