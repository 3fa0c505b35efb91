#include "platform/pallisk/pallisk.h"

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/dynlib.h"

namespace {

// The library as the system loads it, with its entry points looked up by name.
class PalliskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = ascommon::LoadDynLib("pallisk.dll");
    ASSERT_NE(lib_, nullptr);
    convert_ = reinterpret_cast<PalliskConvertFn>(
        ascommon::GetDynLibSymbol(lib_, "Convert"));
    to8_ = reinterpret_cast<PalliskConvertToFn>(
        ascommon::GetDynLibSymbol(lib_, "ConvertToUTF8"));
    to16_ = reinterpret_cast<PalliskConvertToFn>(
        ascommon::GetDynLibSymbol(lib_, "ConvertToUTF16"));
    to32_ = reinterpret_cast<PalliskConvertToFn>(
        ascommon::GetDynLibSymbol(lib_, "ConvertToUTF32"));
    ASSERT_NE(convert_, nullptr);
    ASSERT_NE(to8_, nullptr);
    ASSERT_NE(to16_, nullptr);
    ASSERT_NE(to32_, nullptr);
  }
  void TearDown() override { ascommon::FreeDynLib(lib_); }

  // Runs `fn` over `in` with a buffer of `capacity` bytes; answers the code
  // and leaves the written bytes in `out`.
  int32_t To(PalliskConvertToFn fn, const char* from, const std::string& in,
             std::string* out, size_t capacity = 256) {
    std::vector<char> buf(capacity + 1, '\x7f');
    size_t n = capacity;
    int32_t rc = fn(from, in.data(), in.size(), buf.data(), &n);
    EXPECT_LE(n, capacity);
    EXPECT_EQ(buf[capacity], '\x7f') << "wrote past the capacity";
    out->assign(buf.data(), std::min(n, capacity));
    return rc;
  }

  void* lib_ = nullptr;
  PalliskConvertFn convert_ = nullptr;
  PalliskConvertToFn to8_ = nullptr;
  PalliskConvertToFn to16_ = nullptr;
  PalliskConvertToFn to32_ = nullptr;
};

std::u16string Units16(const std::string& bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    s.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return s;
}

std::u32string Units32(const std::string& bytes) {
  std::u32string s;
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    char32_t c = 0;
    for (int k = 3; k >= 0; --k) c = c << 8 | static_cast<unsigned char>(bytes[i + k]);
    s.push_back(c);
  }
  return s;
}

// The defined global names in the dynamic symbol table of the ELF file.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> img((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (img.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr eh;
  std::memcpy(&eh, img.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) {
    return names;
  }
  auto section = [&](size_t i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, img.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
    return sh;
  };
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh = section(i);
    if (sh.sh_type != SHT_DYNSYM) continue;
    Elf64_Shdr str = section(sh.sh_link);
    for (size_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, img.data() + sh.sh_offset + off, sizeof sym);
      int bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      names.insert(img.data() + str.sh_offset + sym.st_name);
    }
  }
  return names;
}

TEST_F(PalliskTest, ExportsExactlyTheFourEntryPoints) {
  Dl_info info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(convert_), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  EXPECT_EQ(DefinedDynamicSymbols(info.dli_fname),
            (std::set<std::string>{"Convert", "ConvertToUTF8", "ConvertToUTF16",
                                   "ConvertToUTF32"}));
  EXPECT_EQ(dlsym(lib_, "DoConvert"), nullptr);
}

TEST_F(PalliskTest, SingleByteCharsetsToUtf8GiveExactBytes) {
  std::string out;
  EXPECT_EQ(To(to8_, "ISO-8859-1", "caf\xE9 \xA9", &out), PALLISK_OK);
  EXPECT_EQ(out, "caf\xC3\xA9 \xC2\xA9");
  // CP1250 0x8A/0x9A are Š/š, 0x80 is the euro sign.
  EXPECT_EQ(To(to8_, "CP1250", "\x8A\x9A\x80", &out), PALLISK_OK);
  EXPECT_EQ(out, "\xC5\xA0\xC5\xA1\xE2\x82\xAC");
  EXPECT_EQ(To(to8_, "windows-1250", "\x8A", &out), PALLISK_OK);
  EXPECT_EQ(out, "\xC5\xA0");
  // ISO-8859-2 puts Š at 0xA9, where Latin-1 has the copyright sign.
  EXPECT_EQ(To(to8_, "iso-8859-2", "\xA9", &out), PALLISK_OK);
  EXPECT_EQ(out, "\xC5\xA0");
}

TEST_F(PalliskTest, Utf8ToUtf16AndUtf32GiveLittleEndianUnitsWithoutBom) {
  const std::string text = "A\xE2\x82\xAC\xF0\x9D\x84\x9E";  // A, euro, U+1D11E
  std::string out;
  EXPECT_EQ(To(to16_, "UTF-8", text, &out), PALLISK_OK);
  EXPECT_EQ(out.size(), 8u);
  EXPECT_EQ(Units16(out), (std::u16string{0x41, 0x20AC, 0xD834, 0xDD1E}));
  EXPECT_EQ(out.substr(0, 2), std::string("A\0", 2));

  EXPECT_EQ(To(to32_, "UTF-8", text, &out), PALLISK_OK);
  EXPECT_EQ(out.size(), 12u);
  EXPECT_EQ(Units32(out), (std::u32string{0x41, 0x20AC, 0x1D11E}));
}

TEST_F(PalliskTest, ConvertBetweenNamedCharsets) {
  std::vector<char> buf(64);
  size_t n = buf.size();
  const std::string utf8 = "\xC5\xA0koda";
  ASSERT_EQ(convert_("UTF-8", "ISO-8859-2", utf8.data(), utf8.size(), buf.data(), &n),
            PALLISK_OK);
  EXPECT_EQ(std::string(buf.data(), n), "\xA9koda");

  // A stateful target gets its closing shift sequence: U+65E5 in ISO-2022-JP.
  n = buf.size();
  const std::string nichi = "\xE6\x97\xA5";
  ASSERT_EQ(convert_("UTF-8", "ISO-2022-JP", nichi.data(), nichi.size(), buf.data(), &n),
            PALLISK_OK);
  EXPECT_EQ(std::string(buf.data(), n), "\x1B$BF|\x1B(B");

  // Empty input converts to nothing.
  n = buf.size();
  EXPECT_EQ(convert_("UTF-8", "UTF-16LE", "", 0, buf.data(), &n), PALLISK_OK);
  EXPECT_EQ(n, 0u);
  n = buf.size();
  EXPECT_EQ(convert_("UTF-8", "UTF-16LE", nullptr, 0, buf.data(), &n), PALLISK_OK);
  EXPECT_EQ(n, 0u);
}

TEST_F(PalliskTest, TooSmallBufferGivesMinus51AndKeepsWhatFits) {
  std::string out;
  EXPECT_EQ(To(to8_, "ISO-8859-1", "abc\xE9xyz", &out, 4), PALLISK_E_OUTPUT_TOO_SMALL);
  // The two-byte é does not fit after "abc".
  EXPECT_EQ(out, "abc");
  EXPECT_EQ(To(to16_, "UTF-8", "abcd", &out, 7), PALLISK_E_OUTPUT_TOO_SMALL);
  EXPECT_EQ(Units16(out), u"abc");
  EXPECT_EQ(To(to32_, "UTF-8", "a", &out, 0), PALLISK_E_OUTPUT_TOO_SMALL);
  EXPECT_EQ(out, "");
  // Exactly enough room is not too small.
  EXPECT_EQ(To(to32_, "UTF-8", "ab", &out, 8), PALLISK_OK);
  EXPECT_EQ(Units32(out), U"ab");
}

TEST_F(PalliskTest, InvalidInputGivesMinus50AndKeepsThePrefix) {
  std::string out;
  EXPECT_EQ(To(to16_, "UTF-8", "ab\xFF" "cd", &out), PALLISK_E_INVALID_SEQUENCE);
  EXPECT_EQ(Units16(out), u"ab");
  // A continuation byte with no lead byte.
  EXPECT_EQ(To(to8_, "UTF-8", "x\x80", &out), PALLISK_E_INVALID_SEQUENCE);
  EXPECT_EQ(out, "x");
  // A character the target set lacks: the euro sign in Latin-1.
  std::vector<char> buf(16);
  size_t n = buf.size();
  const std::string euro = "1\xE2\x82\xAC";
  EXPECT_EQ(convert_("UTF-8", "ISO-8859-1", euro.data(), euro.size(), buf.data(), &n),
            PALLISK_E_INVALID_SEQUENCE);
  EXPECT_EQ(std::string(buf.data(), n), "1");
}

TEST_F(PalliskTest, TruncatedSequenceGivesMinus53AndKeepsTheConvertedPrefix) {
  std::string out;
  EXPECT_EQ(To(to16_, "UTF-8", "ab\xE2\x82", &out), PALLISK_E_INCOMPLETE_INPUT);
  EXPECT_EQ(Units16(out), u"ab");
  EXPECT_EQ(To(to8_, "UTF-8", "\xC3\xA9\xC3", &out), PALLISK_E_INCOMPLETE_INPUT);
  EXPECT_EQ(out, "\xC3\xA9");
  // Half a UTF-16 unit.
  EXPECT_EQ(To(to32_, "UTF-16LE", std::string("a\0b", 3), &out), PALLISK_E_INCOMPLETE_INPUT);
  EXPECT_EQ(Units32(out), U"a");
}

TEST_F(PalliskTest, UnknownCharsetGivesMinus4) {
  std::string out;
  EXPECT_EQ(To(to8_, "NO-SUCH-CHARSET", "abc", &out), PALLISK_E_UNKNOWN_CHARSET);
  EXPECT_EQ(out, "");
  std::vector<char> buf(16);
  size_t n = buf.size();
  EXPECT_EQ(convert_("UTF-8", "KLINGON-7", "a", 1, buf.data(), &n), PALLISK_E_UNKNOWN_CHARSET);
  EXPECT_EQ(n, 0u);
}

TEST_F(PalliskTest, NullArgumentsGiveMinus1) {
  char buf[8];
  size_t n = sizeof buf;
  EXPECT_EQ(convert_(nullptr, "UTF-8", "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", nullptr, "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", nullptr, 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", "a", 1, nullptr, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", "a", 1, buf, nullptr), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to8_(nullptr, "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to16_("UTF-8", "a", 1, buf, nullptr), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to32_("UTF-8", nullptr, 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  // A null buffer of capacity 0 is allowed and simply too small.
  n = 0;
  EXPECT_EQ(to8_("UTF-8", "a", 1, nullptr, &n), PALLISK_E_OUTPUT_TOO_SMALL);
}

TEST_F(PalliskTest, ConcurrentCallsWithDifferentCharsetsDoNotInterfere) {
  struct Case {
    const char* from;
    std::string in;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"ISO-8859-2", "\xA9", "\xC5\xA0"},
      {"ISO-8859-1", "\xA9", "\xC2\xA9"},
      {"CP1250", "\x8A", "\xC5\xA0"},
      {"UTF-16LE", std::string("\xAC\x20", 2), "\xE2\x82\xAC"},
  };
  std::vector<int> failures(cases.size(), 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < cases.size(); ++t) {
    threads.emplace_back([&, t] {
      const Case& c = cases[t];
      for (int i = 0; i < 2000; ++i) {
        char buf[16];
        size_t n = sizeof buf;
        if (to8_(c.from, c.in.data(), c.in.size(), buf, &n) != PALLISK_OK ||
            std::string(buf, n) != c.want) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(cases.size(), 0));
}

}  // namespace
