#include "src/trace/trace.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf8.h"
#include "tests/support/test_support.h"

namespace {

using tervo_test::ReadFile;
using tervo_test::ScopedEnv;
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
  ScopedEnv folder("AS_TRACER_PATH", dir.path().c_str());
  ScopedEnv every_level("TERVO_TRACE_LEVEL", nullptr);
  CATrace* dummy = g_pTrace;
  ASSERT_NE(nullptr, dynamic_cast<CDummyTrace*>(dummy));

  ASTraceSetUp();
  EXPECT_NE(dummy, g_pTrace);
  AS_LOG(0, 42, "hello %d", 7);
  ASTraceTakeDown();
  EXPECT_EQ(dummy, g_pTrace);
  AS_LOG(0, 43, "after take-down");

  EXPECT_EQ("[ANTISPAM          ] [       trace_test.cc:42  ] - hello 7\n",
            ReadFile(dir.File("as2_debug.log")));
}

TEST(Trace, UnusableLogFolderKeepsTheDummyTrace) {
  TempDir dir;
  ScopedEnv folder("AS_TRACER_PATH", dir.File("no/such/folder").c_str());
  CATrace* dummy = g_pTrace;
  ASTraceSetUp();
  EXPECT_EQ(dummy, g_pTrace);
  AS_LOG(0, 1, "goes nowhere");
  ASTraceTakeDown();
  EXPECT_EQ(dummy, g_pTrace);
}

}  // namespace
