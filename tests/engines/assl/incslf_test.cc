#include "src/engines/assl/incslf_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

using nsAssl::CIncSlfFileInfo;

std::string Show(const ascommon::sstring& s) {
  std::string out = s.data() != nullptr ? std::string(s.data(), s.length()) : "";
  for (char& c : out) c = c == '\n' ? '|' : c;
  return out;
}

// "last=L: jid +name<text> -name; jid ...", or the logged lines.
std::string Outcome(const std::string& file) {
  tervo_test::CapturingTrace trace;
  CIncSlfFileInfo info;
  if (info.Parse(file.data(), file.size()) != 0) {
    std::string logged;
    for (const std::string& text : trace.texts()) logged += text;
    return logged + " @" + std::to_string(info.error_line()) + " last=" + std::to_string(info.GetLastJID());
  }
  std::string out = "last=" + std::to_string(info.GetLastJID()) + ":";
  for (const nsAssl::SJobInfo& job : info.jobs()) {
    out += " " + std::to_string(job.jid);
    for (const auto& item : job.changed) out += " +" + Show(item.name) + "<" + Show(item.text) + ">";
    for (const auto& item : job.deleted) out += " -" + Show(item.name);
    out += ";";
  }
  return out;
}

TEST(IncSlfFile, ReadsJobsOrNamesTheLineThatFitsNowhere) {
  const struct {
    const char* file;
    const char* outcome;
  } cases[] = {
      {"{\n* 42\n+ keeps_secret\n  rule keeps_secret {\n    condition: none;\n  }\n- old_greeting\n}\n",
       "last=42: 42 +keeps_secret<  rule keeps_secret {|    condition: none;|  }> -old_greeting;"},
      {"{\r\n*\t7\r\n+ a\r\n  rule a\r\n\r\n}\r\n", "last=7: 7 +a<  rule a >;"},
      {"\xef\xbb\xbf\x80{\n*1\n}", "last=1: 1;"},
      {"{\n*5\n}\n\n{\n*12\n}\n  \t\n{\n* job 0009 of 70\n}\n", "last=12: 5; 12; 9;"},
      {"{\n*1\n+r1{ x\n#r2/x\n\t x\n\n \n  y\n-  gone now\n+ r3\n}\n",
       "last=1: 1 +r1<> +r2<\t x|||  y> +r3<> -gone;"},
      {"", "last=-1:"},
      // Errors.
      {"{\n*1\n}\n\x80", "parse error : line=4 @4 last=-1"},
      {"+ a\n", "parse error : line=1 @1 last=-1"},
      {"{\n*1\n{\n}\n", "parse error : line=3 @3 last=-1"},
      {"{\n*1\n}\n}\n", "parse error : line=4 @4 last=-1"},
      {"{\n+ a\n}\n", "parse error : line=3 @3 last=-1"},
      {"{\n*1\n\n*2\n}\n", "parse error : line=4 @4 last=-1"},
      {"{\n* none\n}\n", "parse error : line=2 @2 last=-1"},
      {"{\n*1\n  rule\n}\n", "parse error : line=3 @3 last=-1"},
      {"{\n*1\n+ a\n- b\n  x\n}\n", "parse error : line=5 @5 last=-1"},
      {"{\n*1\n+ a\n}\n{\n*2\n  x\n}\n", "parse error : line=7 @7 last=-1"},
      {"{\n*1\n+ {x\n}\n", "parse error : line=3 @3 last=-1"},
      {"{\n*1\n-\r\n}\n", "parse error : line=3 @3 last=-1"},
      {"{\n*1\n+ a\n  x\n", "parse error : line=5 @5 last=-1"},
      {"{\n*1", "parse error : line=3 @3 last=-1"},
      {"{\n*1\nx\n}\n", "parse error : line=3 @3 last=-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.file), c.outcome) << c.file;
}

TEST(IncSlfFile, JobsDataTakesTheJobsAfterAJid) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("im_incslf.txt"))
      << "{\n*3\n+ a\n  A\n- x\n}\n{\n*8\n+ b\n  B\n  B2\n- y\n}\n{\n*5\n+ c\n  C\n- z\n}\n";
  CIncSlfFileInfo info;
  EXPECT_EQ(info.Load(dir.File("missing.txt").c_str()), -1);
  ASSERT_EQ(info.Load(dir.File("im_incslf.txt").c_str()), 0);
  const struct {
    int32_t after;
    const char* data;
  } cases[] = {{-1, "3:  A|  B|  B2|  C| -x -y -z"}, {3, "2:  B|  B2|  C| -y -z"},
               {5, "1:  B|  B2| -y"}, {8, "0:"}};
  for (const auto& c : cases) {
    ascommon::sstring buffer("stale");
    uint32_t count = 99;
    ascommon::Vector<ascommon::sstring> deleted(1);
    ASSERT_EQ(info.GetJobsData(c.after, &buffer, &count, &deleted), 0);
    std::string got = std::to_string(count) + ":" + Show(buffer);
    for (const auto& name : deleted) got += " -" + Show(name);
    EXPECT_EQ(got, c.data) << c.after;
    EXPECT_FALSE(buffer.is_null());
  }
}

}  // namespace
