// Several threads writing through one trace of the trace library: every line
// must arrive whole.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "src/trace/trace.h"
#include "tests/support/test_support.h"

namespace {

using tervo_test::ReadFile;
using tervo_test::ScopedEnv;
using tervo_test::SplitLines;
using tervo_test::TempDir;

TEST(TraceThreads, LinesFromManyThreadsAreNeverTorn) {
  TempDir dir;
  ScopedEnv folder("AS_TRACER_PATH", dir.path().c_str());
  ScopedEnv every_level("TERVO_TRACE_LEVEL", nullptr);
  ASTraceSetUp();
  ASSERT_EQ(nullptr, dynamic_cast<CDummyTrace*>(g_pTrace));

  constexpr int kThreads = 4;
  constexpr int kLines = 400;
  // Payload lengths vary (some beyond the trace's 1 KiB stack buffer) so a
  // torn or interleaved write would show in the line's content.
  auto payload = [](int t, int i) { return std::string(1 + (t * 131 + i * 17) % 1500, 'a' + t); };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &payload] {
      for (int i = 0; i < kLines; ++i) AS_LOG(0, 1, "%d %d %s", t, i, payload(t, i).c_str());
    });
  }
  for (std::thread& th : threads) th.join();
  ASTraceTakeDown();

  std::vector<std::string> lines = SplitLines(ReadFile(dir.File("as2_debug.log")));
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  const std::string prefix = "[ANTISPAM          ] [trace_threads_test.cc:1   ] - ";
  std::set<std::pair<int, int>> seen;
  for (const std::string& line : lines) {
    ASSERT_EQ(prefix, line.substr(0, prefix.size())) << line;
    int t = -1, i = -1, consumed = 0;
    ASSERT_EQ(2, sscanf(line.c_str() + prefix.size(), "%d %d %n", &t, &i, &consumed)) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kLines) << line;
    EXPECT_EQ(payload(t, i), line.substr(prefix.size() + consumed));
    EXPECT_TRUE(seen.emplace(t, i).second) << "duplicate " << line;
  }
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

}  // namespace
