#include "common/asfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/dynlib.h"
#include "common/utf8.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using ascommon::FileList;
using ascommon::sstring;
using ascommon::usstring;

std::u16string U16(const std::string& s) { return ascommon::Utf8ToUtf16(s); }

std::string Backslashed(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Names(const FileList& list) {
  std::vector<std::string> names;
  for (const usstring& s : list) names.push_back(ascommon::Utf16ToUtf8(s.data()));
  return names;
}

class AsFileTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return dir_.File(name); }
  tervo_test::TempDir dir_;
};

TEST_F(AsFileTest, ExistsIsTrueOnlyForEntriesThatAreNotFolders) {
  WriteText(File("plain.txt"), "x");
  WriteText(File("\xC3\xBC\xC3\xA9.txt"), "abc");  // "üé.txt"
  fs::create_directory(File("folder"));
  for (const auto& [path, exists] : {std::pair{File("plain.txt"), true},
                                      {Backslashed(File("\xC3\xBC\xC3\xA9.txt")), true},
                                      {File("folder"), false},
                                      {File("missing.txt"), false}}) {
    EXPECT_EQ(exists, ascommon::FileExists(path.c_str())) << path;
    EXPECT_EQ(exists, ascommon::FileExists(U16(path).c_str())) << path;
  }
  EXPECT_FALSE(ascommon::FileExists(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(ascommon::FileExists(static_cast<const char16_t*>(nullptr)));
}

TEST_F(AsFileTest, SizeIsTheLow32BitsAndZeroWhenUnreadable) {
  WriteText(File("small"), std::string(1234, 'a'));
  EXPECT_EQ(1234u, ascommon::FileSize(U16(File("small")).c_str()));
  fs::create_directory(File("folder"));
  EXPECT_EQ(0u, ascommon::FileSize(File("folder").c_str()));

  // A sparse file of 4 GiB + 5 bytes: the 32-bit size wraps, the full one does not.
  std::ofstream(File("huge")).close();
  fs::resize_file(File("huge"), (uint64_t{1} << 32) + 5);
  EXPECT_EQ(5u, ascommon::FileSize(File("huge").c_str()));
  uint64_t full = 0;
  ASSERT_TRUE(ascommon::FileSize64(File("huge").c_str(), &full));
  EXPECT_EQ((uint64_t{1} << 32) + 5, full);

  uint64_t untouched = 77;
  EXPECT_FALSE(ascommon::FileSize64(File("folder").c_str(), &untouched));
  EXPECT_EQ(77u, untouched);
  EXPECT_FALSE(ascommon::FileSize64(File("small").c_str(), nullptr));
}

TEST_F(AsFileTest, DeleteCopyAndMoveWorkOnFilesOnly) {
  fs::create_directory(File("folder"));
  WriteText(File("a"), "1");
  EXPECT_EQ(1, ascommon::DeleteFile(Backslashed(File("a")).c_str()));
  EXPECT_FALSE(fs::exists(File("a")));
  EXPECT_EQ(0, ascommon::DeleteFile(File("a").c_str()));
  EXPECT_EQ(0, ascommon::DeleteFile(File("folder").c_str()));
  EXPECT_TRUE(fs::is_directory(File("folder")));

  WriteText(File("src"), "new contents");
  WriteText(File("dst"), "old, longer contents that must go");
  EXPECT_EQ(1, ascommon::CopyFile(File("src").c_str(), Backslashed(File("dst")).c_str()));
  EXPECT_EQ("new contents", tervo_test::ReadFile(File("dst")));
  EXPECT_EQ("new contents", tervo_test::ReadFile(File("src")));
  EXPECT_EQ(0, ascommon::CopyFile(File("missing").c_str(), File("dst3").c_str()));
  EXPECT_EQ(0, ascommon::CopyFile(File("folder").c_str(), File("dst3").c_str()));
  EXPECT_EQ(0, ascommon::CopyFile(File("src").c_str(), File("no/such/dir/x").c_str()));
  EXPECT_FALSE(fs::exists(File("dst3")));

  WriteText(File("to"), "replaced");
  EXPECT_EQ(1, ascommon::MoveFile(U16(File("src")).c_str(), U16(File("to")).c_str()));
  EXPECT_FALSE(fs::exists(File("src")));
  EXPECT_EQ("new contents", tervo_test::ReadFile(File("to")));
  EXPECT_EQ(0, ascommon::MoveFile(File("src").c_str(), File("x").c_str()));
  EXPECT_EQ(0, ascommon::MoveFile(File("to").c_str(), File("no/such/dir/x").c_str()));
  EXPECT_TRUE(fs::exists(File("to")));
}

TEST_F(AsFileTest, TempFileNamesAreReservedUniqueAndPrefixed) {
  sstring first, second;
  ASSERT_EQ(1, ascommon::MakeTempFileName(dir_.path().c_str(), "qxas", &first));
  ASSERT_EQ(1, ascommon::MakeTempFileName(dir_.path().c_str(), "qxas", &second));
  const std::string name = first.c_str();
  EXPECT_EQ(dir_.path().size() + 5 + 6, name.size()) << name;
  EXPECT_EQ(0u, name.rfind(dir_.path() + "/qxas", 0)) << name;
  EXPECT_TRUE(fs::is_regular_file(name)) << name;
  EXPECT_NE(name, std::string(second.c_str()));

  // The folder's own separators carry over into the name.
  sstring backslashed;
  ASSERT_EQ(1, ascommon::MakeTempFileName(Backslashed(dir_.path()).c_str(), "tmp", &backslashed));
  EXPECT_EQ(0u, std::string(backslashed.c_str()).rfind(Backslashed(dir_.path()) + "\\tmp", 0));

  usstring wide;
  ASSERT_EQ(1, ascommon::MakeTempFileName(U16(dir_.path() + "/").c_str(), u"w", &wide));
  const std::string wide8 = ascommon::Utf16ToUtf8(wide.data());
  EXPECT_EQ(0u, wide8.rfind(dir_.path() + "/w", 0)) << wide8;
  EXPECT_TRUE(fs::is_regular_file(wide8));

  sstring unchanged("keep");
  EXPECT_EQ(0, ascommon::MakeTempFileName(File("missing").c_str(), "qxas", &unchanged));
  EXPECT_STREQ("keep", unchanged.c_str());
  EXPECT_EQ(0, ascommon::MakeTempFileName(dir_.path().c_str(), "qxas", static_cast<sstring*>(nullptr)));
}

TEST_F(AsFileTest, TempFoldersAreMadeAndFoldersRemovedWithTheirContents) {
  sstring made;
  ASSERT_EQ(0, ascommon::MakeTempFolder(dir_.path().c_str(), "fold", &made));
  EXPECT_TRUE(fs::is_directory(made.c_str()));
  EXPECT_EQ(0u, std::string(made.c_str()).rfind(dir_.path() + "/fold", 0));
  sstring unchanged("keep");
  EXPECT_EQ(-3, ascommon::MakeTempFolder(File("missing").c_str(), "f", &unchanged));
  EXPECT_STREQ("keep", unchanged.c_str());

  fs::create_directories(File("tree/sub"));
  WriteText(File("tree/a.txt"), "a");
  WriteText(File("tree/sub/b.txt"), "b");
  EXPECT_EQ(1, ascommon::RemoveFolder(Backslashed(File("tree")).c_str()));
  EXPECT_FALSE(fs::exists(File("tree")));
  WriteText(File("file"), "f");
  EXPECT_EQ(0, ascommon::RemoveFolder(File("file").c_str()));
  EXPECT_TRUE(fs::exists(File("file")));
  EXPECT_EQ(0, ascommon::RemoveFolder(File("missing").c_str()));
}

class ListFilesTest : public AsFileTest {
 protected:
  void SetUp() override {
    for (const char* name : {"im2.slf", "IM1.SLF", "im10.slf", "other.slf", "im3.txt", "imx.slf.bak"}) {
      WriteText(File(name), "x");
    }
    fs::create_directory(File("imfolder.slf"));
  }
};

TEST_F(ListFilesTest, WildcardsMatchFilesOnlyInByteOrderKeepingThePatternsFolder) {
  const std::string folder = Backslashed(dir_.path()) + "\\";
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"im*.slf", {"IM1.SLF", "im10.slf", "im2.slf"}},
      {"im?.slf", {"IM1.SLF", "im2.slf"}},
      {"*.txt", {"im3.txt"}},
      {"*.slf*", {"IM1.SLF", "im10.slf", "im2.slf", "imx.slf.bak", "other.slf"}},
      {"im*1*", {"IM1.SLF", "im10.slf"}},
      {"??", {}},
      {"missing\\*", {}},
  };
  FileList list;  // each listing replaces the last one
  FileList wide;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);  // the wide listing must agree
    std::vector<std::string> expected;
    for (const std::string& n : c.names) expected.push_back(folder + n);
    EXPECT_EQ(static_cast<int32_t>(expected.size()), ascommon::ListFiles((folder + c.pattern).c_str(), &list));
    EXPECT_EQ(expected, Names(list));
    EXPECT_EQ(static_cast<int32_t>(expected.size()), ascommon::ListFiles(U16(folder + c.pattern).c_str(), &wide));
    EXPECT_EQ(expected, Names(wide));
  }
  EXPECT_EQ(-1, ascommon::ListFiles(static_cast<const char16_t*>(nullptr), &list));
  EXPECT_EQ(-1, ascommon::ListFiles("*", nullptr));
}

// The current folder is process-wide: the test puts it back.
TEST_F(ListFilesTest, CurrentFolderIsReadSetAndUsedByBarePatterns) {
  sstring saved;
  ASSERT_EQ(1, ascommon::GetCurrentFolder(&saved));
  ASSERT_EQ(1, ascommon::SetCurrentFolder(Backslashed(dir_.path()).c_str()));

  usstring now_wide;
  EXPECT_EQ(1, ascommon::GetCurrentFolder(&now_wide));
  EXPECT_EQ(fs::canonical(dir_.path()).string(), ascommon::Utf16ToUtf8(now_wide.data()));

  FileList list;
  EXPECT_EQ(2, ascommon::ListFiles("im?.slf", &list));
  EXPECT_EQ((std::vector<std::string>{"IM1.SLF", "im2.slf"}), Names(list));

  EXPECT_EQ(0, ascommon::SetCurrentFolder("other.slf"));
  EXPECT_EQ(1, ascommon::SetCurrentFolder(U16(saved.c_str()).c_str()));
  EXPECT_EQ(fs::path(saved.c_str()), fs::current_path());
}

// Library names in the Windows style resolve to shared objects beside the program.
TEST(DynLib, DllNamesResolveToSharedObjectsBesideTheProgram) {
  void* bare = ascommon::LoadDynLib("quintrel.dll");
  ASSERT_NE(nullptr, bare);
  EXPECT_NE(nullptr, ascommon::GetDynLibSymbol(bare, "GetTracerW"));
  EXPECT_EQ(nullptr, ascommon::GetDynLibSymbol(bare, "NoSuchExport"));
  // A backslashed folder and an upper-case extension still find the library.
  void* with_folder =
      ascommon::LoadDynLib((Backslashed(tervo_test::ProgramFolder()) + "\\quintrel.DLL").c_str());
  EXPECT_EQ(bare, with_folder);
  ascommon::FreeDynLib(with_folder);
  ascommon::FreeDynLib(bare);

  tervo_test::TempDir empty;
  EXPECT_EQ(nullptr, ascommon::LoadDynLib((empty.path() + "/quintrel.dll").c_str()));
  for (const char* bad : {"no_such_library.dll", "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(nullptr, ascommon::LoadDynLib(bad));
  }
  ascommon::FreeDynLib(nullptr);

  void* lib = ascommon::LoadLibrary(u"iconv.dll");
  ASSERT_NE(nullptr, lib);
  EXPECT_NE(nullptr, ascommon::GetProcedure(lib, "iconv_open"));
  ascommon::FreeLibrary(lib);
  EXPECT_EQ(nullptr, ascommon::LoadLibrary(static_cast<const char16_t*>(nullptr)));
}

}  // namespace
