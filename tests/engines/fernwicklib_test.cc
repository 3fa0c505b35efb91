#include "src/engines/fernwick/fernwicklib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using nsFernwick::RegExLib;
using tervo_test::CapturingTrace;

TEST(FernwickLib, LoadsTheLibraryAndMakesWorkingObjects) {
  // A folder that already ends in a backslash gets no second one.
  for (const std::string& folder : {tervo_test::ProgramFolder(), tervo_test::ProgramFolder() + "\\"}) {
    CapturingTrace trace;
    RegExLib* lib = nsFernwick::Load(folder.c_str());
    ASSERT_NE(lib, nullptr) << folder;
    const std::string path = tervo_test::ProgramFolder() + "\\fernwick.dll";
    EXPECT_EQ(trace.texts(), std::vector<std::string>{"Trying to load the lib " + path});
    for (FernwickRegEx* regex : {nsFernwick::CreateRegEx(lib), nsFernwick::CreateFastRegEx(lib)}) {
      ASSERT_NE(regex, nullptr);
      ASSERT_EQ(regex->Compile("ab+c", 4, 0), 0);
      EXPECT_EQ(regex->Search("xabbc", 5, 0), 1);
      EXPECT_EQ(regex->Search("xac", 3, 0), 0);
      nsFernwick::DeleteRegEx(lib, regex);
    }
    nsFernwick::Release(lib);
  }
  CapturingTrace trace;
  EXPECT_EQ(nsFernwick::Load(""), nullptr);
  EXPECT_EQ(nsFernwick::Load(nullptr), nullptr);
  EXPECT_TRUE(trace.lines().empty());
}

TEST(FernwickLib, RefusesAMissingOrIncompleteLibrary) {
  tervo_test::TempDir empty;
  const struct {
    std::string folder;
    std::string missing;  // empty: the library does not load at all
  } cases[] = {
      {empty.path(), ""},
      {PARTIAL_DIR "/no-deletebuffmap", "DeleteBuffMap"},
      // Entry points are fetched in order: the first one missing is named.
      {PARTIAL_DIR "/no-newfastregex", "NewFastRegEx"},
  };
  for (const auto& c : cases) {
    CapturingTrace trace;
    EXPECT_EQ(nsFernwick::Load(c.folder.c_str()), nullptr) << c.folder;
    const std::vector<std::string> texts = trace.texts();
    const std::string path = c.folder + "\\fernwick.dll";
    ASSERT_EQ(texts.size(), c.missing.empty() ? 2u : 3u) << c.folder;
    EXPECT_EQ(texts[0], "Trying to load the lib " + path);
    if (c.missing.empty()) {
      EXPECT_EQ(texts[1].rfind("WARNING: cannot load the regex library (" + path + "): ", 0), 0u)
          << texts[1];
      EXPECT_GT(texts[1].size(), 45 + path.size());  // the loader's own text follows
    } else {
      EXPECT_EQ(texts[1],
                "WARNING: invalid Regex DLL library ! The product will run, but with a lot less "
                "functionality.");
      EXPECT_EQ(texts[2].rfind("WARNING: could not obtain functor " + c.missing +
                                   ". The error was: ", 0),
                0u)
          << texts[2];
      EXPECT_NE(texts[2].find(c.missing, 40), std::string::npos) << texts[2];
    }
  }
}

TEST(FernwickLib, CreateWithoutAUsableHandleWarnsAndGivesNull) {
  RegExLib no_module;
  RegExLib loaded_without_entries;
  loaded_without_entries.module = &loaded_without_entries;  // any non-null module
  for (RegExLib* lib : {static_cast<RegExLib*>(nullptr), &no_module, &loaded_without_entries}) {
    CapturingTrace trace;
    EXPECT_EQ(nsFernwick::CreateRegEx(lib), nullptr);
    EXPECT_EQ(nsFernwick::CreateFastRegEx(lib), nullptr);
    const std::vector<std::string> texts = trace.texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "ASBadPtrException - MESSAGE: invalid handle to the regex library");
    EXPECT_EQ(texts[1], "WARNING: could not create a new regex!");
    EXPECT_EQ(texts[3], "WARNING: could not create a new fast regex!");
    nsFernwick::DeleteRegEx(lib, nullptr);  // nothing to call: no crash
  }
}

}  // namespace
