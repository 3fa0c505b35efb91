// The plug-in as a host first meets it: its exports, its factory, the modules
// the factory makes, and what the log shows while they come and go.
#include <elf.h>
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class PluginTest : public PluginFixture {};

// The defined GLOBAL and WEAK names of a 64-bit shared object's dynamic
// symbol table (what `nm -D --defined-only` lists); a failure when the file
// is not one.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::set<std::string> names;
  const std::string image = ReadFile(path);
  Elf64_Ehdr header{};
  if (image.size() >= sizeof header) memcpy(&header, image.data(), sizeof header);
  if (image.size() < sizeof header || memcmp(image.data(), ELFMAG, SELFMAG) != 0 ||
      image[EI_CLASS] != ELFCLASS64 ||
      header.e_shoff + header.e_shnum * sizeof(Elf64_Shdr) > image.size()) {
    ADD_FAILURE() << path << ": not a well-formed 64-bit ELF file";
    return names;
  }
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  memcpy(sections.data(), image.data() + header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr));
  for (const Elf64_Shdr& dynsym : sections) {
    if (dynsym.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr& dynstr = sections[dynsym.sh_link];
    for (size_t k = 1; k < dynsym.sh_size / sizeof(Elf64_Sym); ++k) {
      Elf64_Sym symbol;
      memcpy(&symbol, image.data() + dynsym.sh_offset + k * sizeof symbol, sizeof symbol);
      const unsigned bind = ELF64_ST_BIND(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      names.insert(image.data() + dynstr.sh_offset + symbol.st_name);
    }
  }
  return names;
}

std::vector<std::string> AllocatorNames(CAClassFactory* factory) {
  std::vector<std::string> names;
  for (uint64_t i = 0; i < factory->allocators.GetCount(); ++i) {
    CBasicAllocator* allocator = factory->allocators[i];
    names.push_back(allocator == nullptr ? "<null>" : allocator->GetName()->c_str());
  }
  return names;
}

const std::vector<std::string> kFilterOrder(std::begin(kAllFilters), std::end(kAllFilters));

TEST(PluginExports, SharedObjectsExportOnlyTheirEntryPoints) {
  const struct {
    const char* file;
    std::set<std::string> exports;
  } cases[] = {
      {"tervo.mdl", {"GetASVersion", "GetClassFactory", "ReleaseClassFactory"}},
      {"libmorvel.so",
       {"as_new_2_9", "as_new_nt_2_9", "as_delete_2_9", "as_delete_nt_2_9", "as_set_err",
        "as_get_err"}},
      {"libquintrel.so", {"GetTracerW"}},
      {"libpallisk.so", {"Convert", "ConvertToUTF8", "ConvertToUTF16", "ConvertToUTF32"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(DefinedDynamicSymbols(ProgramFolder() + "/" + c.file), c.exports);
  }
}

TEST_F(PluginTest, FactoryIsMadeOnceAndRemadeAfterRelease) {
  CAClassFactory* first = plugin_.Factory();
  EXPECT_EQ(plugin_.Factory(), first);
  EXPECT_EQ(AllocatorNames(first), kFilterOrder);
  // A module made through the old factory goes with it (ASan's leak check).
  Create(kWordsName);
  EXPECT_EQ(first->modules.GetCount(), 1u);
  EXPECT_EQ(plugin_.ReleaseFactory(), 0);
  EXPECT_EQ(plugin_.ReleaseFactory(), 0);  // nothing left to release is no error
  CAClassFactory* second = plugin_.Factory();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(AllocatorNames(second), kFilterOrder);
  Create(kSignName);
  EXPECT_EQ(second->modules.GetCount(), 1u);
}

TEST_F(PluginTest, FactoryMakesInitialisedFiltersOfOnlyTheFourTypes) {
  for (const std::string& name : kFilterOrder) {
    SCOPED_TRACE(name);
    CBasicAllocator* allocator = plugin_.FindAllocator(name.c_str());
    ASSERT_NE(allocator, nullptr);
    CAModule* module = allocator->CreateModule();
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(module->isFilter);
    EXPECT_TRUE(module->initialized);
    EXPECT_NE(module->sharedData, nullptr);
    EXPECT_EQ(module->sessions.GetCount(), 0u);
    EXPECT_STREQ(module->DisplayName(), name.c_str());
    // Handed to the factory, which shuts it down and frees it on release.
    ASSERT_EQ(plugin_.Factory()->modules.Add(module), 0);
  }
  for (const char* name : {"Im Dispatcher", "Im Streamer", "im words filter", "Im Words Filter ", ""}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(plugin_.FindAllocator(name), nullptr);
    EXPECT_EQ(plugin_.CreateFilter(name, &settings_), nullptr);
  }
  EXPECT_EQ(plugin_.Factory()->modules.GetCount(), 4u);
}

TEST_F(PluginTest, ShutdownEmptiesAModuleAndUnloadingReleasesEveryModule) {
  // The blacklist and signature filters are shut down here, the text filters
  // keep their sessions; unloading releases the factory, which shuts every
  // module down (again) and frees it: ASan checks nothing is freed twice or left.
  tervo_host::Item item("hello", nullptr, "buddy@example.org");
  TempDir data;  // the signature filter looks for its rules before its shared data
  std::ofstream(data.File(nsImModules::kSignDataFile)).flush();
  UseDataFolder(data.path());
  for (const char* name : kAllFilters) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    for (uint64_t id = 1; id <= 3; ++id) ASSERT_EQ(Open(filter, id, "teen", 1), 0);
    ASSERT_EQ(filter->ProcessEntity(2, item.get(), 0), 0);
    ASSERT_EQ(filter->sessions.Insert(4, nobjSessionInfo{nullptr, true}), 0);  // data never made
    if (name == kWordsName || name == kMarkovianName) continue;
    EXPECT_EQ(filter->ReleaseAllAndShutdown(), 0);
    EXPECT_EQ(filter->sessions.GetCount(), 0u);
    EXPECT_EQ(filter->sharedData, nullptr);
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    // The locker still works: settings passes take the write lock again.
    EXPECT_EQ(filter->ApplySharedSettings(), -103);
    EXPECT_EQ(filter->ApplySessionSettings(1), -103);
  }
  plugin_.Unload();
  const std::string releasing = LogLine("tervo.cc", 8, "Releasing CIMFClassFactory");
  EXPECT_EQ(CountLogLines(releasing), 1) << Log();
  const int blacklist_gone = FindLogLine(
      LogLine("imblacklistfilter.cc", 79,
              "The Parental BW List Advanced Filter with name Im Blacklist Filter is about to be "
              "destructed"));
  const int sign_gone = FindLogLine(
      LogLine("imsignfilter.cc", 26,
              "The IM Signatures Filter with name Im Signature Filter is about to be destructed"));
  EXPECT_GT(blacklist_gone, FindLogLine(releasing));
  EXPECT_GT(sign_gone, blacklist_gone);
  // No lock was left held.
  EXPECT_FALSE(LogContains("without releasing all the Read Only Locks")) << Log();
  EXPECT_FALSE(LogContains("shutdown of the shared data failed")) << Log();
}

}  // namespace
}  // namespace tervo_test
