// The three data filters' settings passes over one table: a missing data file,
// a first load, an unchanged size (not read again), a smaller file (read again,
// the old data gone) and a damaged file.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "common/item.h"
#include "tests/support/data_files.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class ReloadTest : public PluginFixture {};

struct ReloadCase {
  const char* filter;
  const char* file;
  int32_t missing_code, empty_code, damaged_code;
  // Writes version 0 (the first), 1 (same size, other content) or 2 (smaller).
  std::function<void(const std::string&, int)> write;
  // What the filter writes for the probe item.
  std::function<std::string(tervo_host::Item&)> verdict;
  std::string nothing, first, smaller, damaged;
};

std::string WordsVerdict(tervo_host::Item& item) {
  return std::to_string(item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1000));
}
std::string BlacklistVerdict(tervo_host::Item& item) {
  return item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY) ? "listed" : "not listed";
}
std::string MarkovianVerdict(tervo_host::Item& item) {
  return item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY);
}

void WriteWords(const std::string& path, int v) {
  // Version 2 does not fire for the probe: an old category left beside it would.
  const char* words[] = {"alpha", "delta", "beta"};
  WriteWordsFile(path, {{"cat", v == 2 ? 9 : 0, 0, 0, 0, {{words[v], 3}}}});
}
void WriteBlacklist(const std::string& path, int v) {
  if (v == 2) return WriteBlacklistFile(path, std::vector<std::string>{"someone"});
  WriteBlacklistFile(path, std::vector<std::string>{v == 0 ? "alpha_user" : "delta_user", "x"});
}
void WriteModel(const std::string& path, int v) {
  if (v == 2) return WriteMarkovianFile(path, {{"risk", 1, {{7, {"beta"}}}}});
  WriteMarkovianFile(path, {{"risk", 1, {{5, {v == 0 ? "alpha" : "delta", "beta"}}}}});
}

TEST_F(ReloadTest, DataFiltersReloadOnlyWhenTheSizeChanges) {
  const ReloadCase cases[] = {
      {kWordsName, kWordsDataFile, -204, -201, -104, WriteWords, WordsVerdict,
       "-1", "3", "-1", "-1"},
      {kBlacklistName, kBlacklistDataFile, 0, 0, 0, WriteBlacklist, BlacklistVerdict,
       "not listed", "listed", "not listed", "not listed"},
      // A damaged model adds nothing and takes nothing away.
      {kMarkovianName, kMarkovianDataFile, -204, -201, -104, WriteModel, MarkovianVerdict,
       "", "<risk;5>", "<risk;7>", "<risk;7>"},
  };
  for (const ReloadCase& c : cases) {
    SCOPED_TRACE(c.filter);
    TempDir data;
    UseDataFolder(data.path() + "/");
    CAFilter* filter = Create(c.filter);
    ASSERT_EQ(Open(filter, 1, "child", 1), 0);
    const std::string path = data.File(c.file);
    // A settings pass, then the probe item.
    auto step = [&](const char* what, int32_t code, const std::string& verdict) {
      SCOPED_TRACE(what);
      EXPECT_EQ(filter->ApplySharedSettings(), code) << LastMessage();
      tervo_host::Item item("alpha beta", nullptr, "alpha_user");
      EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0) << LastMessage();
      EXPECT_EQ(c.verdict(item), verdict);
    };

    // A missing file is created empty; the empty file loads nothing.
    step("missing", c.missing_code, c.nothing);
    EXPECT_TRUE(std::filesystem::exists(path));
    step("empty", c.empty_code, c.nothing);

    c.write(path, 0);
    step("first", 0, c.first);
    const auto size = std::filesystem::file_size(path);
    c.write(path, 1);
    ASSERT_EQ(std::filesystem::file_size(path), size);
    step("same size", 0, c.first);
    c.write(path, 2);
    ASSERT_LT(std::filesystem::file_size(path), size);
    step("smaller", 0, c.smaller);

    // Cut short: the load fails, and the next pass tries again.
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 1);
    step("damaged", c.damaged_code, c.damaged);
    step("damaged again", c.damaged_code, c.damaged);
  }
}

}  // namespace
}  // namespace tervo_test
