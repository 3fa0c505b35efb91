// The blacklist filter explained: the other party as the filter reads it,
// the digest key it looks up, and whether the list holds it.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "host/cli/explain.h"
#include "src/engines/urldb2/urldb2.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

class BlacklistExplainer : public FilterExplainer {
 public:
  const char* FilterName() const override { return nsImModules::kBlacklistFilterName; }

  // As the filter: an empty file is never read, and a list that does not
  // load leaves the filter running with none.
  bool SetUp(const ExplainSetup& setup, std::string* /*error*/) override {
    const std::string path = setup.data_dir + "/" + nsImModules::kBlacklistDataFile;
    std::error_code ignored;
    if (std::filesystem::file_size(path, ignored) == 0 || ignored) return true;
    engine_.emplace();
    if (engine_->Load(path.c_str(), ascommon::sstring((setup.temp_dir + "/").c_str())) != 0) engine_.reset();
    return true;
  }

  // The filter looks up the user text up to its first zero byte in the url
  // table.
  ojson Explain(const ExplainInput& input) override {
    if (input.user == nullptr) return {{"user", nullptr}};
    const size_t length = strlen(input.user);
    char key[24];
    snprintf(key, sizeof key, "%016llx",
             static_cast<unsigned long long>(nsUrlDb2::DigestKey(input.user, length)));
    ojson out = {{"user", input.user}, {"key", key}, {"list", engine_.has_value()}};
    out["listed"] = engine_.has_value() && engine_->IsListedUrl(input.user, length);
    return out;
  }

  void Print(const ojson& explanation, std::string* out) const override {
    if (explanation["user"].is_null()) {
      *out += "    no other party\n";
      return;
    }
    *out += "    other party \"" + explanation["user"].get<std::string>() + "\", key " +
            explanation["key"].get<std::string>() + ": " +
            (!explanation["list"].get<bool>() ? "no list loaded"
             : explanation["listed"].get<bool>() ? "listed"
                                                 : "not listed") + "\n";
  }

 private:
  std::optional<CUrlDb2Engine> engine_;  // none: no list, as the filter runs then
};

}  // namespace

std::unique_ptr<FilterExplainer> NewBlacklistExplainer() { return std::make_unique<BlacklistExplainer>(); }

}  // namespace tervo_cli
