#include "common/dynlib.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(DynLib, DllNamesResolveToSharedObjectsBesideTheProgram) {
  void* bare = ascommon::LoadDynLib("quintrel.dll");
  ASSERT_NE(nullptr, bare);
  EXPECT_NE(nullptr, ascommon::GetDynLibSymbol(bare, "GetTracerW"));
  EXPECT_EQ(nullptr, ascommon::GetDynLibSymbol(bare, "NoSuchExport"));

  std::string windows_folder = tervo_test::ProgramFolder();
  for (char& c : windows_folder) {
    if (c == '/') c = '\\';
  }
  // A backslashed folder and an upper-case extension still find the library.
  void* with_folder = ascommon::LoadDynLib((windows_folder + "\\quintrel.DLL").c_str());
  EXPECT_EQ(bare, with_folder);
  ascommon::FreeDynLib(with_folder);
  ascommon::FreeDynLib(bare);

  tervo_test::TempDir empty;
  EXPECT_EQ(nullptr, ascommon::LoadDynLib((empty.path() + "/quintrel.dll").c_str()));
  EXPECT_EQ(nullptr, ascommon::LoadDynLib("no_such_library.dll"));
  EXPECT_EQ(nullptr, ascommon::LoadDynLib(nullptr));
  EXPECT_EQ(nullptr, ascommon::LoadDynLib(""));
  ascommon::FreeDynLib(nullptr);
}

}  // namespace
