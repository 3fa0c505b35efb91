#include "platform/pallisk/pallisk.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    convert_ = reinterpret_cast<PalliskConvertFn>(ascommon::GetDynLibSymbol(lib_, "Convert"));
    ASSERT_NE(convert_, nullptr);
    const char* names[3] = {"ConvertToUTF8", "ConvertToUTF16", "ConvertToUTF32"};
    for (int i = 0; i < 3; ++i) {
      to_[i] = reinterpret_cast<PalliskConvertToFn>(ascommon::GetDynLibSymbol(lib_, names[i]));
      ASSERT_NE(to_[i], nullptr) << names[i];
    }
  }
  void TearDown() override { ascommon::FreeDynLib(lib_); }

  void* lib_ = nullptr;
  PalliskConvertFn convert_ = nullptr;
  PalliskConvertToFn to_[3] = {};  // to UTF-8, UTF-16LE, UTF-32LE
};

// UTF-16LE and UTF-32LE bytes of the given code units.
std::string Le(std::initializer_list<uint32_t> units, int width) {
  std::string s;
  for (uint32_t u : units) {
    for (int k = 0; k < width; ++k) s.push_back(static_cast<char>(u >> (8 * k)));
  }
  return s;
}

// Each call gets a buffer of `capacity` bytes guarded by one byte that must
// stay untouched; on an error the converted prefix is kept.
TEST_F(PalliskTest, ConvertsIntoTheBufferOrNamesWhatWentWrong) {
  struct Row {
    const char* from;
    const char* to;  // null: the ConvertTo entry point of `to_index`
    int to_index;
    std::string in;
    size_t capacity;
    int32_t rc;
    std::string out;
  };
  const Row rows[] = {
      {"ISO-8859-1", nullptr, 0, "caf\xE9 \xA9", 64, PALLISK_OK, "caf\xC3\xA9 \xC2\xA9"},
      // CP1250 0x8A/0x9A are Š/š, 0x80 is the euro sign.
      {"CP1250", nullptr, 0, "\x8A\x9A\x80", 64, PALLISK_OK, "\xC5\xA0\xC5\xA1\xE2\x82\xAC"},
      {"windows-1250", nullptr, 0, "\x8A", 64, PALLISK_OK, "\xC5\xA0"},
      // ISO-8859-2 puts Š at 0xA9, where Latin-1 has the copyright sign.
      {"iso-8859-2", nullptr, 0, "\xA9", 64, PALLISK_OK, "\xC5\xA0"},
      // Little-endian units, no byte-order mark; U+1D11E as a surrogate pair.
      {"UTF-8", nullptr, 1, "A\xE2\x82\xAC\xF0\x9D\x84\x9E", 64, PALLISK_OK,
       Le({0x41, 0x20AC, 0xD834, 0xDD1E}, 2)},
      {"UTF-8", nullptr, 2, "A\xE2\x82\xAC\xF0\x9D\x84\x9E", 64, PALLISK_OK,
       Le({0x41, 0x20AC, 0x1D11E}, 4)},
      {"UTF-8", "ISO-8859-2", 0, "\xC5\xA0koda", 64, PALLISK_OK, "\xA9koda"},
      // A stateful target gets its closing shift sequence: U+65E5.
      {"UTF-8", "ISO-2022-JP", 0, "\xE6\x97\xA5", 64, PALLISK_OK, "\x1B$BF|\x1B(B"},
      // Too small: what fits is kept (the two-byte é does not fit after "abc"); exactly enough
      // room is not too small.
      {"ISO-8859-1", nullptr, 0, "abc\xE9xyz", 4, PALLISK_E_OUTPUT_TOO_SMALL, "abc"},
      {"UTF-8", nullptr, 1, "abcd", 7, PALLISK_E_OUTPUT_TOO_SMALL, Le({'a', 'b', 'c'}, 2)},
      {"UTF-8", nullptr, 2, "a", 0, PALLISK_E_OUTPUT_TOO_SMALL, ""},
      {"UTF-8", nullptr, 2, "ab", 8, PALLISK_OK, Le({'a', 'b'}, 4)},
      // Invalid input, a lone continuation byte, a character the target lacks.
      {"UTF-8", nullptr, 1, "ab\xFF" "cd", 64, PALLISK_E_INVALID_SEQUENCE, Le({'a', 'b'}, 2)},
      {"UTF-8", nullptr, 0, "x\x80", 64, PALLISK_E_INVALID_SEQUENCE, "x"},
      {"UTF-8", "ISO-8859-1", 0, "1\xE2\x82\xAC", 64, PALLISK_E_INVALID_SEQUENCE, "1"},
      // Truncated sequences, half a UTF-16 unit.
      {"UTF-8", nullptr, 1, "ab\xE2\x82", 64, PALLISK_E_INCOMPLETE_INPUT, Le({'a', 'b'}, 2)},
      {"UTF-16LE", nullptr, 2, std::string("a\0b", 3), 64, PALLISK_E_INCOMPLETE_INPUT, Le({'a'}, 4)},
      {"NO-SUCH-CHARSET", nullptr, 0, "abc", 64, PALLISK_E_UNKNOWN_CHARSET, ""},
      {"UTF-8", "KLINGON-7", 0, "a", 64, PALLISK_E_UNKNOWN_CHARSET, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.from) + " -> " + (row.to ? row.to : "UTF") + " " + row.in);
    std::vector<char> buf(row.capacity + 1, '\x7f');
    size_t n = row.capacity;
    const int32_t rc = row.to != nullptr
                           ? convert_(row.from, row.to, row.in.data(), row.in.size(), buf.data(), &n)
                           : to_[row.to_index](row.from, row.in.data(), row.in.size(), buf.data(), &n);
    EXPECT_EQ(row.rc, rc);
    ASSERT_LE(n, row.capacity);
    EXPECT_EQ(row.out, std::string(buf.data(), n));
    EXPECT_EQ('\x7f', buf[row.capacity]) << "wrote past the capacity";
  }
}

TEST_F(PalliskTest, NullArgumentsGiveMinus1) {
  char buf[8];
  size_t n = sizeof buf;
  EXPECT_EQ(convert_(nullptr, "UTF-8", "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", nullptr, "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", nullptr, 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", "a", 1, nullptr, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(convert_("UTF-8", "UTF-8", "a", 1, buf, nullptr), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to_[0](nullptr, "a", 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to_[1]("UTF-8", "a", 1, buf, nullptr), PALLISK_E_NULL_ARGUMENT);
  EXPECT_EQ(to_[2]("UTF-8", nullptr, 1, buf, &n), PALLISK_E_NULL_ARGUMENT);
  // Empty input may be null; a null buffer of capacity 0 is simply too small.
  EXPECT_EQ(convert_("UTF-8", "UTF-16LE", nullptr, 0, buf, &n), PALLISK_OK);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(to_[0]("UTF-8", "a", 1, nullptr, &n), PALLISK_E_OUTPUT_TOO_SMALL);
}

TEST_F(PalliskTest, ConcurrentCallsWithDifferentCharsetsDoNotInterfere) {
  const struct {
    const char* from;
    std::string in;
    std::string want;
  } cases[] = {
      {"ISO-8859-2", "\xA9", "\xC5\xA0"},
      {"ISO-8859-1", "\xA9", "\xC2\xA9"},
      {"CP1250", "\x8A", "\xC5\xA0"},
      {"UTF-16LE", std::string("\xAC\x20", 2), "\xE2\x82\xAC"},
  };
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        char buf[16];
        size_t n = sizeof buf;
        const int32_t rc = to_[0](cases[t].from, cases[t].in.data(), cases[t].in.size(), buf, &n);
        failures[t] += rc != PALLISK_OK || std::string(buf, n) != cases[t].want;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
