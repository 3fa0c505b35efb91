#include "common/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using ascommon::CConvert;
using ascommon::sstring;
using ascommon::usstring;

std::string Str(const sstring& s) { return s.is_null() ? "<null>" : std::string(s.data(), s.length()); }
std::u16string Str(const usstring& s) {
  return s.is_null() ? u"<null>" : std::u16string(s.data(), s.length());
}
sstring S(const std::string& s) {
  sstring out;
  out.assign(s.data(), s.size());
  return out;
}
usstring U(const std::u16string& s) { return usstring(s.data(), s.size()); }

bool AnyLineContains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST(CConvertTest, LoadsFromTheFolderOrFallsBackToTheBareLibraryName) {
  tervo_test::CapturingTrace trace;
  std::string folder = tervo_test::ProgramFolder();
  std::replace(folder.begin(), folder.end(), '/', '\\');
  CConvert c(folder.c_str(), false, "UTF-16LE");
  EXPECT_TRUE(c.unicode_loaded());
  EXPECT_TRUE(c.iconv_loaded());
  EXPECT_EQ(Str(c.default_wide_name()), "UTF-16LE");
  EXPECT_EQ(c.set_default_wide_name(""), 0);
  EXPECT_EQ(Str(c.default_wide_name()), "UCS-2LE");
  for (const char* dir : {"C:\\no\\such\\folder", static_cast<const char*>(nullptr)}) {
    CConvert other(dir, false);
    EXPECT_TRUE(other.unicode_loaded()) << (dir ? dir : "null");
  }
  EXPECT_EQ(trace.lines(), std::vector<std::string>());
}

TEST(CConvertTest, LibraryWithoutTheProceduresIsRefusedLoggedAndIconvTakesOver) {
  // Any other library of the system, put where the Unicode library should be.
  tervo_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::filesystem::copy_file(tervo_test::ProgramFolder() + "/libmorvel.so",
                             dir.File("libpallisk.so"));
  tervo_test::CapturingTrace trace;
  CConvert c(dir.path().c_str(), false);
  EXPECT_FALSE(c.unicode_loaded());
  EXPECT_TRUE(AnyLineContains(trace.lines(), "Could not load procedures from " + dir.path() + "\\pallisk.dll"));
  EXPECT_EQ(c.LoadUnicodeLibrary(), ascommon::kConvertNoLibrary);
  sstring out;  // the iconv procedures, found under their fallback names, do the work
  EXPECT_EQ(c.ToUTF8("ISO-8859-2", S("\xA9koda"), &out), 0);
  EXPECT_EQ(Str(out), "\xC5\xA0koda");
}

// Runs the same conversions through whichever library `c` has loaded.
void ExpectConversions(const CConvert& c) {
  sstring out;
  EXPECT_EQ(c.ToUTF8("CP1250", S("\x8A\x9A\x80"), &out), 0);
  EXPECT_EQ(Str(out), "\xC5\xA0\xC5\xA1\xE2\x82\xAC");
  EXPECT_EQ(c.Convert("UTF-8", "ISO-8859-2", S("\xC5\xA0koda"), &out), 0);
  EXPECT_EQ(Str(out), "\xA9koda");
  // A stateful target ends in its initial shift state.
  EXPECT_EQ(c.Convert("UTF-8", "ISO-2022-JP", S("a\xE6\x97\xA5"), &out), 0);
  EXPECT_EQ(Str(out), "a\x1B$BF|\x1B(B");

  usstring wide;
  EXPECT_EQ(c.ToUTF16("UTF-8", S("\xC5\xA0koda \xE2\x82\xAC"), &wide), 0);
  EXPECT_EQ(Str(wide), u"Škoda €");
  EXPECT_EQ(c.FromUTF16("CP1250", U(u"Škoda €"), &out), 0);
  EXPECT_EQ(Str(out), "\x8Akoda \x80");

  char32_t units[8] = {};
  uint64_t n = 8;
  const std::string text = "A\xE2\x82\xAC\xF0\x9D\x84\x9E";
  EXPECT_EQ(c.ToUTF32("UTF-8", text.data(), text.size(), units, &n), 0);
  EXPECT_EQ(std::u32string(units, n), U"A€\U0001D11E");

  // A truncated text hands out its converted prefix; other failures leave the output alone.
  EXPECT_EQ(c.ToUTF8("UTF-8", S("ab\xE2\x82"), &out), ascommon::kConvertIncompleteInput);
  EXPECT_EQ(Str(out), "ab");
  EXPECT_EQ(c.ToUTF8("UTF-8", S("cd\xFF"), &out), ascommon::kConvertInvalidSequence);
  EXPECT_EQ(Str(out), "ab");
  EXPECT_EQ(c.ToUTF8("NO-SUCH-SET", S("cd"), &out), ascommon::kConvertUnknownCharset);
  EXPECT_EQ(Str(out), "ab");
  // Wide text is UCS-2: no room for a character beyond the BMP.
  EXPECT_EQ(c.ToUTF16("UTF-8", S("\xF0\x9D\x84\x9E"), &wide), ascommon::kConvertInvalidSequence);
  EXPECT_EQ(Str(wide), u"Škoda €");
}

TEST(CConvertTest, IconvProceduresConvertLikeTheUnicodeLibrary) {
  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  ASSERT_TRUE(c.unicode_loaded());
  {
    SCOPED_TRACE("Unicode library");
    ExpectConversions(c);
  }
  c.FreeUnicodeLibrary();
  ASSERT_FALSE(c.unicode_loaded());
  ASSERT_TRUE(c.iconv_loaded());
  {
    SCOPED_TRACE("iconv procedures");
    ExpectConversions(c);
  }
  c.FreeIconvLibrary();
  sstring out;
  EXPECT_EQ(c.ToUTF8("CP1250", S("a"), &out), ascommon::kConvertNoLibrary);
  EXPECT_TRUE(out.is_null());
}

TEST(CConvertTest, ConversionsSizeTheirOutputAndRejectNulls) {
  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  sstring out;
  // Each "a" + U+65E5 grows to 9 bytes in ISO-2022-JP, beyond any first guess from the input size.
  std::string in, want;
  for (int i = 0; i < 1000; ++i) {
    in += "a\xE6\x97\xA5";
    want += "a\x1B$BF|\x1B(B";
  }
  EXPECT_EQ(c.Convert("UTF-8", "ISO-2022-JP", S(in), &out), 0);
  EXPECT_EQ(Str(out), want);
  EXPECT_EQ(c.ToUTF8("ISO-8859-1", S(std::string("a\0\xE9", 3)), &out), 0);  // a zero byte is text
  EXPECT_EQ(Str(out), std::string("a\0\xC3\xA9", 4));

  EXPECT_EQ(c.ToUTF8("CP1250", S(""), &out), 0);
  EXPECT_TRUE(out.is_empty());
  // UTF-32 into a fixed buffer: too small gives -51 and what fitted.
  char32_t units[2] = {};
  uint64_t n = 2;
  EXPECT_EQ(c.ToUTF32("CP1250", "\x8A\x9A\x80", 3, units, &n), ascommon::kConvertOutputTooSmall);
  EXPECT_EQ(std::u32string(units, n), U"Šš");

  const sstring null_text;
  EXPECT_EQ(c.ToUTF8("CP1250", null_text, &out), ascommon::kConvertNullArgument);
  EXPECT_EQ(c.ToUTF8(nullptr, S("a"), &out), ascommon::kConvertNullArgument);
  EXPECT_EQ(c.ToUTF8("CP1250", S("a"), nullptr), ascommon::kConvertNullArgument);
  EXPECT_EQ(c.Convert("UTF-8", "UTF-8", nullptr, 1, &out), ascommon::kConvertNullArgument);
  EXPECT_EQ(c.FromUTF16("CP1250", usstring(), &out), ascommon::kConvertNullArgument);
  EXPECT_EQ(c.ToUTF32("CP1250", "a", 1, units, nullptr), ascommon::kConvertNullArgument);
}

TEST(CConvertTest, CodePagesAreCheckedBeforeWideTextIsConverted) {
  EXPECT_STREQ(CConvert::CodePageName(28592), "ISO-8859-2");
  EXPECT_EQ(CConvert::CodePageName(1249), nullptr);

  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  sstring name;
  EXPECT_EQ(c.CheckCodePage("1251", &name), 0);
  EXPECT_EQ(Str(name), "CP1251");
  EXPECT_EQ(c.CheckCodePage("iso-8859-2", &name), 0);
  for (const char* bad : {"1249", "", "99999999999999999999", "65001x"}) {
    EXPECT_EQ(c.CheckCodePage(bad, &name), ascommon::kConvertUnknownCharset) << bad;
  }
  EXPECT_EQ(Str(name), "iso-8859-2");
  EXPECT_EQ(c.CheckCodePage(nullptr, &name), ascommon::kConvertNullArgument);

  const usstring skoda = U(u"Škoda");
  sstring out;
  EXPECT_EQ(c.WideToCodePage(skoda, "cp852", &out), 0);
  EXPECT_EQ(Str(out), "\xE6koda");
  EXPECT_EQ(c.WideToCodePage(skoda, 4711u, &out), ascommon::kConvertUnknownCharset);
  EXPECT_EQ(c.WideToCodePage(skoda, 28591u, &out), ascommon::kConvertInvalidSequence);  // no Š in Latin-1

  usstring wide;
  EXPECT_EQ(c.CodePageToWide(S("\x8Akoda"), "1250", &wide), 0);
  EXPECT_EQ(c.CodePageToWide(S("\x8Akoda"), "1", &wide), ascommon::kConvertUnknownCharset);
  EXPECT_EQ(Str(wide), u"Škoda");
}

// Converts `html` in place and answers the result text.
std::string Html(const CConvert& c, const std::string& html, bool* ok = nullptr,
                 std::string* message = nullptr) {
  sstring text = S(html);
  sstring error;
  bool result = c.HtmlToUTF8(&text, &error);
  if (ok != nullptr) *ok = result;
  if (message != nullptr) *message = Str(error);
  return Str(text);
}

TEST(CConvertTest, HtmlIsConvertedFromTheCharsetDeclaredInAMetaTagBeforeItsBody) {
  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  // ISO-8859-2 0xA9 is \u0160 (C5 A0); the windows-1250 fallback makes it \u00A9 (C2 A9).
  struct Case {
    const char* head;
    const char* converted;
  } cases[] = {
      {"<META CONTENT='text/html; charset=iso-8859-2'><BODY>", "\xC5\xA0"},
      {"<meta charset=\"iso-8859-2\"/><body>", "\xC5\xA0"},
      {"<meta name=x><meta content=\"charset=iso-8859-2\"><body>", "\xC5\xA0"},  // search goes on
      {"<meta content=\"charset=iso-8859-2\">", "\xC5\xA0"},                      // no body tag
      {"<html><body>", "\xC2\xA9"},
      {"<body><meta content=\"charset=iso-8859-2\">", "\xC2\xA9"},  // after the body tag
      {"<script charset=iso-8859-2></script><body>", "\xC2\xA9"},    // outside a meta tag
      {"<meta name=x>charset=iso-8859-2<body>", "\xC2\xA9"},         // after the meta tag
      {"<meta content=\"charset=\"><body>", "\xC2\xA9"},             // empty name
  };
  for (const Case& k : cases) {
    bool ok = false;
    EXPECT_EQ(Html(c, std::string(k.head) + "\xA9", &ok), std::string(k.head) + k.converted) << k.head;
    EXPECT_TRUE(ok) << k.head;
  }
  EXPECT_EQ(Html(c, "<body>\x8A"), "<body>\xC5\xA0");
  sstring null_text;
  EXPECT_TRUE(c.HtmlToUTF8(&null_text));
  EXPECT_TRUE(null_text.is_null());
  EXPECT_FALSE(c.HtmlToUTF8(nullptr));
}

TEST(CConvertTest, HtmlCharsetNameEndsAtItsDelimitersOrTwentyCharacters) {
  sstring name;
  for (const char* end : {"\"", "'", " ", "/", ">", "\tx", ""}) {
    EXPECT_TRUE(CConvert::FindHtmlCharset(S(std::string("<meta charset=koi8-r") + end), &name)) << end;
    EXPECT_EQ(Str(name), "koi8-r") << end;
  }
  EXPECT_FALSE(CConvert::FindHtmlCharset(S("<meta charset=><body>"), &name));
  EXPECT_FALSE(CConvert::FindHtmlCharset(S("<Meta charset=koi8-r>"), &name));

  // A longer name is cut to 20 characters.
  EXPECT_TRUE(CConvert::FindHtmlCharset(S("<meta charset=CSISO111ECMACYRILLICXYZ>"), &name));
  EXPECT_EQ(Str(name), "CSISO111ECMACYRILLIC");

  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  // CSISO5427CYRILLIC1981 is a known 21-character name; cut to 20 it is not.
  bool ok = true;
  sstring out;
  ASSERT_EQ(c.ToUTF8("CSISO5427CYRILLIC1981", S("a"), &out), 0);
  Html(c, "<meta charset=\"CSISO5427CYRILLIC1981\"><body>a", &ok);
  EXPECT_FALSE(ok);
}

TEST(CConvertTest, HtmlThatCannotBeConvertedIsReplacedByTheErrorText) {
  CConvert c(tervo_test::ProgramFolder().c_str(), false);
  const std::string error_text =
      "<!--QXERROR [HTTP Streamer] Problems Converting to Wide Char QXERROR--!>";
  tervo_test::CapturingTrace trace;
  bool ok = true;
  std::string message;
  EXPECT_EQ(Html(c, "<meta charset=x-unknown-set><body>abc", &ok, &message), error_text);
  EXPECT_FALSE(ok);
  EXPECT_EQ(message, "[HTTP Streamer] Problems Converting to Wide Char");
  EXPECT_TRUE(AnyLineContains(trace.lines(), "[HTTP Streamer] Problems Converting to Wide Char."));

  ok = true;  // invalid bytes for the declared set
  EXPECT_EQ(Html(c, "<meta charset=utf-8><body>a\xFF", &ok), error_text);
  EXPECT_FALSE(ok);
  // A sequence cut off by the end of the text is no failure: the text before it is kept.
  EXPECT_EQ(Html(c, "<meta charset=utf-8><body>\xC5\xA0\xC5", &ok),
            "<meta charset=utf-8><body>\xC5\xA0");
  EXPECT_TRUE(ok);
}

}  // namespace
