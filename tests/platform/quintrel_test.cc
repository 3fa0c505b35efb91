#include <gtest/gtest.h>

#include <string>

#include "common/dynlib.h"
#include "common/utf8.h"
#include "platform/quintrel/quintrel.h"
#include "tests/support/test_support.h"

namespace {

using tervo_test::ReadFile;
using tervo_test::ScopedEnv;
using tervo_test::TempDir;

class QuintrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = ascommon::LoadDynLib("quintrel.dll");
    ASSERT_NE(nullptr, lib_);
    get_tracer_ = reinterpret_cast<GetTracerWFn>(ascommon::GetDynLibSymbol(lib_, "GetTracerW"));
    ASSERT_NE(nullptr, get_tracer_);
  }
  void TearDown() override { ascommon::FreeDynLib(lib_); }

  CATrace* Tracer(const std::string& path) { return get_tracer_(ascommon::Utf8ToUtf16(path).c_str(), 1); }

  TempDir dir_;
  void* lib_ = nullptr;
  GetTracerWFn get_tracer_ = nullptr;
};

TEST_F(QuintrelTest, AppendsFormattedLinesToTheFileWithBackslashesAsFolders) {
  ScopedEnv every_level("TERVO_TRACE_LEVEL", nullptr);
  const std::string windows_style = dir_.path() + "\\as2_debug.log";
  CATrace* trace = Tracer(windows_style);
  ASSERT_NE(nullptr, trace);
  trace->Trace(0, "[%5s:%-4d] %s\n", "abc", 12, "first");
  trace->Trace(3, "second %d\n", 2);
  // The same path gives the same trace; lines keep appending.
  EXPECT_EQ(trace, Tracer(windows_style));
  const std::string long_line(5000, 'z');
  trace->Trace(1, "%s\n", long_line.c_str());
  EXPECT_EQ("[  abc:12  ] first\nsecond 2\n" + long_line + "\n", ReadFile(dir_.File("as2_debug.log")));

  EXPECT_EQ(nullptr, Tracer(dir_.File("missing-folder/as2_debug.log")));
  EXPECT_EQ(nullptr, get_tracer_(nullptr, 1));
}

TEST_F(QuintrelTest, LevelFilterComesFromTheEnvironment) {
  ScopedEnv level("TERVO_TRACE_LEVEL", "1");
  CATrace* trace = Tracer(dir_.File("filtered.log"));
  ASSERT_NE(nullptr, trace);
  EXPECT_EQ(1, trace->MaxLevel());
  for (int l = 0; l <= 3; ++l) trace->Trace(l, "level %d\n", l);
  EXPECT_EQ("level 0\nlevel 1\n", ReadFile(dir_.File("filtered.log")));
}

}  // namespace
