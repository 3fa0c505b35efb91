// The trace frame, the exceptions that log through it, and several threads
// writing through one trace of the trace library.
#include "src/trace/trace.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/utf8.h"
#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using tervo_test::ReadFile;
using tervo_test::ScopedEnv;
using tervo_test::SplitLines;
using tervo_test::TempDir;

TEST(Trace, FileNameCutsOnlyAtBackslashes) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"c:\\build\\common\\sstring.cpp", "sstring.cpp"},
      {"c:\\build\\common/sstring.cpp", "common/sstring.cpp"},
      {"/home/build/common/sstring.cc", "/home/build/common/sstring.cc"},
      {"sstring.cc", "sstring.cc"},
      {"dir\\", ""},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.name, ASFileName(c.path)) << c.path;
    std::u16string wide = ascommon::Utf8ToUtf16(c.path);
    EXPECT_EQ(ascommon::Utf8ToUtf16(c.name), std::u16string(ASFileNameW(wide.c_str()))) << c.path;
  }
  EXPECT_STREQ("[no file]", ASFileName(nullptr));
  EXPECT_EQ(std::u16string(u"[no file]"), ASFileNameW(nullptr));
}

TEST(Trace, LogPathFollowsTheEnvironment) {
  {
    ScopedEnv unset("AS_TRACER_PATH", nullptr);
    EXPECT_EQ(u".\\as2_debug.log", ASTracerLogPath());
  }
  ScopedEnv set("AS_TRACER_PATH", "/var/log/t\xC3\xA9rvo");
  EXPECT_EQ(u"/var/log/t\u00E9rvo\\as2_debug.log", ASTracerLogPath());
}

TEST(Trace, LogLineHasTheFixedPrefixLayout) {
  tervo_test::CapturingTrace capture;
  AS_LOG(2, 7, "VELDR: Creating new module: [%s]", "Im Words Filter");
  AS_LOG(3, 12345, "Releasing CIMFClassFactory");
  ASSERT_EQ(2u, capture.lines().size());
  EXPECT_EQ("[ANTISPAM          ] [       trace_test.cc:7   ] - VELDR: Creating new module: "
            "[Im Words Filter]\n",
            capture.lines()[0]);
  EXPECT_EQ("[ANTISPAM          ] [       trace_test.cc:12345] - Releasing CIMFClassFactory\n",
            capture.lines()[1]);
  EXPECT_EQ(2, capture.levels()[0]);
  EXPECT_EQ(3, capture.levels()[1]);
}

TEST(Trace, SetUpWritesThroughTheTraceLibraryUntilTakeDown) {
  TempDir dir;
  ScopedEnv every_level("TERVO_TRACE_LEVEL", nullptr);
  CATrace* dummy = g_pTrace;
  ASSERT_NE(nullptr, dynamic_cast<CDummyTrace*>(dummy));
  {
    // A folder that cannot hold the log keeps the dummy trace.
    ScopedEnv unusable("AS_TRACER_PATH", dir.File("no/such/folder").c_str());
    ASTraceSetUp();
    EXPECT_EQ(dummy, g_pTrace);
    ASTraceTakeDown();
  }
  ScopedEnv folder("AS_TRACER_PATH", dir.path().c_str());
  ASTraceSetUp();
  EXPECT_NE(dummy, g_pTrace);
  AS_LOG(0, 42, "hello %d", 7);
  ASTraceTakeDown();
  EXPECT_EQ(dummy, g_pTrace);
  AS_LOG(0, 43, "after take-down");
  EXPECT_EQ("[ANTISPAM          ] [       trace_test.cc:42  ] - hello 7\n",
            ReadFile(dir.File("as2_debug.log")));
}

TEST(Exceptions, TextsAndCodesOfEachClass) {
  auto check = [](const AException& e, const char* what, int32_t code) {
    SCOPED_TRACE(what);
    EXPECT_STREQ(what, e.what());
    EXPECT_EQ(code, e.GetCode());
    EXPECT_FALSE(e.GetFlag());
  };
  check(AException(), "Antispam Exception", -1);
  check(ASException(), "unknown exception", -1);
  check(ASException("read %d of %s", 3, "imwords.dat"), "read 3 of imwords.dat", -1);
  check(ASException(-700, "Could not access file [%s]", "x"), "Could not access file [x]", -700);
  check(ASException(static_cast<const char*>(nullptr)), "unknown exception", 0);
  check(ASBadPtrException("x"), "x", -1);
  check(ASFileException("x"), "x", -1);
  check(ASMemException("x"), "x", -2);
  check(ASMemException(static_cast<const char*>(nullptr)), "unknown exception", -2);
  check(InvalidIndexException(), "unknown exception", -301);
  // The code in the text is only text: the class keeps its own code.
  check(ASInternalException("ASInternalException - CODE: %d MESSAGE: Null locker!", 0),
        "ASInternalException - CODE: 0 MESSAGE: Null locker!", -3);
  check(ASInternalException(0, "being deleted"), "being deleted", 0);
}

TEST(Exceptions, MessageIsCutAt512AndCopiedWhole) {
  ASFileException e("%s", std::string(600, 'q').c_str());
  EXPECT_EQ(std::string(512, 'q'), e.what());
  const ASFileException copy = e;
  EXPECT_EQ(std::string(512, 'q'), copy.what());
  EXPECT_EQ(e.GetCode(), copy.GetCode());
}

TEST(Exceptions, RaiseLogsThenThrowsTheSameText) {
  tervo_test::CapturingTrace capture;
  try {
    AS_RAISE(ASBadPtrException, 226, "[IM Words Filter] Invalid item to process");
    FAIL() << "no throw";
  } catch (const std::exception& e) {
    EXPECT_STREQ("ASBadPtrException - MESSAGE: [IM Words Filter] Invalid item to process",
                 e.what());
    EXPECT_NE(nullptr, dynamic_cast<const ASBadPtrException*>(&e));
  }
  // With a code: it goes before the arguments, evaluated once, and is only text.
  int evaluations = 0;
  try {
    AS_RAISE_CODE(ASFileException, 9, (++evaluations, -700), "Could not access file [%s]", "a.dat");
    FAIL() << "no throw";
  } catch (const AException& e) {
    EXPECT_STREQ("ASFileException - CODE: -700 MESSAGE: Could not access file [a.dat]", e.what());
    EXPECT_EQ(-1, e.GetCode());
  }
  EXPECT_EQ(1, evaluations);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "[ANTISPAM EXCEPTION] [       trace_test.cc:226 ] - ASBadPtrException - MESSAGE: "
                "[IM Words Filter] Invalid item to process\n",
                "[ANTISPAM EXCEPTION] [       trace_test.cc:9   ] - ASFileException - CODE: -700 "
                "MESSAGE: Could not access file [a.dat]\n"}));
  EXPECT_EQ(0, capture.levels()[0]);
}

TEST(Exceptions, QuietRaisesWriteNoLine) {
  tervo_test::CapturingTrace capture;
  EXPECT_THROW(AS_THROW_QUIET(ASException, "x"), ASException);
  try {
    AS_THROW_QUIET_CODE(ASInternalException, 0,
                        "Unable to lock resource read only because it is being deleted!");
  } catch (const ASException& e) {
    EXPECT_STREQ("ASInternalException - CODE: 0 MESSAGE: Unable to lock resource read only "
                 "because it is being deleted!",
                 e.what());
    EXPECT_EQ(-3, e.GetCode());
  }
  EXPECT_TRUE(capture.lines().empty());
}

TEST(TraceThreads, LinesFromManyThreadsAreNeverTorn) {
  TempDir dir;
  ScopedEnv folder("AS_TRACER_PATH", dir.path().c_str());
  ScopedEnv every_level("TERVO_TRACE_LEVEL", nullptr);
  ASTraceSetUp();
  ASSERT_EQ(nullptr, dynamic_cast<CDummyTrace*>(g_pTrace));

  constexpr int kThreads = 4, kLines = 400;
  // Lengths vary, some beyond the trace's 1 KiB stack buffer, so a torn write shows.
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
  const std::string prefix = "[ANTISPAM          ] [       trace_test.cc:1   ] - ";
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
