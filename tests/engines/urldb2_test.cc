#include "src/engines/urldb2/urldb2.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CBinaryStreamer;
using ascommon::IStreamer;
using ascommon::sstring;
using nsUrlDb2::DigestKey;
using nsUrlDb2::UrlDbFileReader;
using nsUrlDb2::UrlDbFileWriter;

uint64_t Key(const std::string& text) { return DigestKey(text.data(), text.size()); }

std::vector<uint64_t> Keys(const std::vector<std::string>& texts) {
  std::vector<uint64_t> keys;
  for (const std::string& t : texts) keys.push_back(Key(t));
  return keys;
}

// Writes a container whose payload is whatever `fill` writes.
void WritePayload(const std::string& path, const std::string& work,
                  const std::function<void(IStreamer*)>& fill) {
  CBinaryStreamer out(path.c_str(), CBinaryStreamer::kModeWrite, work.c_str(),
                      nsUrlDb2::kUrlDbFileVersion);
  fill(&out);
  out.Close();
}

// How many of the captured lines contain `text`.
int CountLines(const tervo_test::CapturingTrace& trace, const std::string& text) {
  int n = 0;
  for (const std::string& line : trace.lines()) n += line.find(text) != std::string::npos ? 1 : 0;
  return n;
}

std::vector<std::string> Numbered(const char* pattern, int count) {
  std::vector<std::string> out;
  char buffer[128];
  for (int i = 0; i < count; ++i) {
    snprintf(buffer, sizeof buffer, pattern, i);
    out.push_back(buffer);
  }
  return out;
}

class UrlDbEngineTest : public ::testing::Test {
 protected:
  std::string NewPath() { return dir_.File("imblacklist" + std::to_string(files_++) + ".dat"); }

  // A well-formed file of the three key lists.
  std::string WriteDb(const std::vector<uint64_t>& urls, const std::vector<uint64_t>& subs,
                      const std::vector<uint64_t>& doms) {
    const std::string path = NewPath();
    WritePayload(path, dir_.path(), [&](IStreamer* out) {
      UrlDbFileWriter writer(out);
      writer.WriteHeader(nsUrlDb2::kDigestWidth, static_cast<uint32_t>(urls.size()),
                         static_cast<uint32_t>(subs.size()), static_cast<uint32_t>(doms.size()));
      for (uint64_t k : urls) writer.WriteKey(k);
      for (uint64_t k : subs) writer.WriteKey(k);
      for (uint64_t k : doms) writer.WriteKey(k);
    });
    return path;
  }

  std::string WriteTexts(const std::vector<std::string>& urls,
                         const std::vector<std::string>& subs = {},
                         const std::vector<std::string>& doms = {}) {
    return WriteDb(Keys(urls), Keys(subs), Keys(doms));
  }

  int32_t Load(const std::string& path) {
    return engine_.Load(path.c_str(), sstring(dir_.path().c_str()));
  }

  bool Url(const std::string& text) const { return engine_.IsListedUrl(text.data(), text.size()); }
  bool Sub(const std::string& text) const {
    return engine_.IsListedSubdomain(text.data(), text.size());
  }
  bool Dom(const std::string& text) const {
    return engine_.IsListedDomain(text.data(), text.size());
  }

  void ExpectCounts(uint32_t urls, uint32_t subs, uint32_t doms) const {
    EXPECT_EQ(engine_.GetUrlCount(), urls);
    EXPECT_EQ(engine_.GetSubdomainCount(), subs);
    EXPECT_EQ(engine_.GetDomainCount(), doms);
  }

  void ExpectBuckets(uint32_t urls, uint32_t subs, uint32_t doms) const {
    EXPECT_EQ(engine_.url_table().GetBucketCount(), urls);
    EXPECT_EQ(engine_.subdomain_table().GetBucketCount(), subs);
    EXPECT_EQ(engine_.domain_table().GetBucketCount(), doms);
  }

  // The load position stored for `text` in `table`, or -1 when absent.
  static int64_t Position(const nsUrlDb2::KeyTable& table, const std::string& text) {
    const uint32_t* value = table.Lookup(Key(text));
    return value == nullptr ? -1 : static_cast<int64_t>(*value);
  }

  tervo_test::TempDir dir_;
  CUrlDb2Engine engine_;
  int files_ = 0;
};

// --- digest keys and the file format ----------------------------------------

TEST(UrlDbFormat, DigestKeyIsFirstEightMd5BytesLittleEndian) {
  // MD5("") = d41d8cd98f00b204 e9800998ecf8427e
  EXPECT_EQ(DigestKey("", 0), 0x04b2008fd98c1dd4ull);
  EXPECT_EQ(DigestKey(nullptr, 0), 0x04b2008fd98c1dd4ull);
  // MD5("abc") = 900150983cd24fb0 d6963f7d28e17f72
  EXPECT_EQ(DigestKey("abc", 3), 0xb04fd23c98500190ull);
  // The length decides, not a terminator.
  EXPECT_EQ(DigestKey("abcdef", 3), 0xb04fd23c98500190ull);
  // MD5("The quick brown fox jumps over the lazy dog") = 9e107d9d372bb682...
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(DigestKey(fox.data(), fox.size()), 0x82b62b379d7d109eull);
  // Bytes are taken as they are, zero bytes included.
  EXPECT_NE(DigestKey("a\0b", 3), DigestKey("a", 1));
}

TEST(UrlDbFormat, WriterLaysOutHeaderThenLowAndHighHalvesOfEachKey) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("layout.dat");
  WritePayload(path, dir.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 1, 1, 0);
    writer.WriteKey(0x1122334455667788ull);
    const uint64_t more[] = {0x0102030405060708ull};
    writer.WriteKeys(more, 1);
  });
  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
  EXPECT_EQ(in.version(), nsUrlDb2::kUrlDbFileVersion);
  EXPECT_EQ(in.payload_size(), 32u);
  EXPECT_EQ(in.ReadU32(), 2u);
  EXPECT_EQ(in.ReadU32(), 1u);
  EXPECT_EQ(in.ReadU32(), 1u);
  EXPECT_EQ(in.ReadU32(), 0u);
  EXPECT_EQ(in.ReadU32(), 0x55667788u);
  EXPECT_EQ(in.ReadU32(), 0x11223344u);
  EXPECT_EQ(in.ReadU32(), 0x05060708u);
  EXPECT_EQ(in.ReadU32(), 0x01020304u);
}

TEST(UrlDbFormat, ReaderReadsWhatWriterWroteOneByOneAndInPieces) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("roundtrip.dat");
  // More keys than one piece holds, and a count that is not a whole number of
  // pieces.
  std::vector<uint64_t> keys;
  for (uint32_t i = 0; i < 2 * UrlDbFileReader::kKeysPerRead + 7; ++i) {
    keys.push_back(0x9e3779b97f4a7c15ull * (i + 1));
  }
  WritePayload(path, dir.path(), [&](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(7, 3, static_cast<uint32_t>(keys.size()), 5);
    writer.WriteKey(keys[0]);
    writer.WriteKey(keys[1]);
    writer.WriteKey(keys[2]);
    writer.WriteKeys(keys.data(), keys.size());
  });
  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
  UrlDbFileReader reader(&in);
  EXPECT_EQ(reader.ReadWidth(), 7u);
  uint32_t urls = 0, subs = 0, doms = 0;
  reader.ReadCounts(&urls, &subs, &doms);
  EXPECT_EQ(urls, 3u);
  EXPECT_EQ(subs, keys.size());
  EXPECT_EQ(doms, 5u);
  std::vector<uint64_t> back(keys.size() + 3);
  for (int i = 0; i < 3; ++i) back[i] = reader.ReadKey();
  reader.ReadKeys(back.data() + 3, static_cast<uint32_t>(keys.size()));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(back[i], keys[i]) << i;
  for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(back[i + 3], keys[i]) << i;
  // The payload is used up: a further key cannot be read.
  EXPECT_ANY_THROW(reader.ReadKey());
}

TEST(UrlDbFormat, ReaderRaisesOnShortPayload) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("short.dat");
  WritePayload(path, dir.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 2, 0, 0);
    writer.WriteKey(42);
    out->WriteU32(7);  // half a key
  });
  {
    CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
    UrlDbFileReader reader(&in);
    reader.ReadWidth();
    uint32_t urls, subs, doms;
    reader.ReadCounts(&urls, &subs, &doms);
    uint64_t keys[2];
    EXPECT_ANY_THROW(reader.ReadKeys(keys, 2));
  }
  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
  UrlDbFileReader reader(&in);
  reader.ReadWidth();
  uint32_t urls, subs, doms;
  reader.ReadCounts(&urls, &subs, &doms);
  EXPECT_EQ(reader.ReadKey(), 42u);
  EXPECT_ANY_THROW(reader.ReadKey());
}

// --- loading -------------------------------------------------------------------

TEST_F(UrlDbEngineTest, NewEngineHasThreeEmptyTablesOf32Buckets) {
  ExpectCounts(0, 0, 0);
  ExpectBuckets(32, 32, 32);
  EXPECT_FALSE(Url(""));
  EXPECT_FALSE(Url("http://example.com/"));
}

TEST_F(UrlDbEngineTest, LoadFillsEachTableFromItsOwnKeysAndTablesAreQueriedSeparately) {
  ASSERT_EQ(Load(WriteTexts({"http://bad.example/a", "http://bad.example/b"},
                            {"ads.tracker.example"}, {"evil.example", "worse.example", "x.org"})),
            nsUrlDb2::kUrlDbOk);
  ExpectCounts(2, 1, 3);
  ExpectBuckets(12, 11, 13);

  EXPECT_TRUE(Url("http://bad.example/a"));
  EXPECT_TRUE(Url("http://bad.example/b"));
  EXPECT_FALSE(Url("http://bad.example/c"));
  EXPECT_FALSE(Url("ads.tracker.example"));
  EXPECT_FALSE(Url("evil.example"));

  EXPECT_TRUE(Sub("ads.tracker.example"));
  EXPECT_FALSE(Sub("http://bad.example/a"));
  EXPECT_FALSE(Sub("evil.example"));

  EXPECT_TRUE(Dom("evil.example"));
  EXPECT_TRUE(Dom("worse.example"));
  EXPECT_TRUE(Dom("x.org"));
  EXPECT_FALSE(Dom("ads.tracker.example"));
  EXPECT_FALSE(Dom("http://bad.example/b"));
}

TEST_F(UrlDbEngineTest, LookupUsesTheGivenLengthNotATerminator) {
  ASSERT_EQ(Load(WriteTexts({"http://a.example/"})), nsUrlDb2::kUrlDbOk);
  const char text[] = "http://a.example/and-more";
  EXPECT_TRUE(engine_.IsListedUrl(text, 17));
  EXPECT_FALSE(engine_.IsListedUrl(text, 16));
  EXPECT_FALSE(engine_.IsListedUrl(text, sizeof text - 1));
  EXPECT_FALSE(engine_.IsListedUrl(nullptr, 17));
}

TEST_F(UrlDbEngineTest, EmptyTextIsListedOnlyWhenItsKeyWasStored) {
  ASSERT_EQ(Load(WriteTexts({"something"}, {}, {""})), nsUrlDb2::kUrlDbOk);
  EXPECT_FALSE(Url(""));
  EXPECT_FALSE(engine_.IsListedUrl(nullptr, 0));
  EXPECT_TRUE(Dom(""));
  EXPECT_TRUE(engine_.IsListedDomain(nullptr, 0));

  ASSERT_EQ(Load(WriteTexts({""})), nsUrlDb2::kUrlDbOk);
  EXPECT_TRUE(Url(""));
  EXPECT_TRUE(engine_.IsListedUrl("ignored", 0));
}

TEST_F(UrlDbEngineTest, LookupsAreCaseSensitive) {
  ASSERT_EQ(Load(WriteTexts({"Bob"}, {"www.Example.com"}, {"example.com"})), nsUrlDb2::kUrlDbOk);
  EXPECT_TRUE(Url("Bob"));
  EXPECT_FALSE(Url("bob"));
  EXPECT_FALSE(Url("BOB"));
  EXPECT_TRUE(Sub("www.Example.com"));
  EXPECT_FALSE(Sub("www.example.com"));
  EXPECT_TRUE(Dom("example.com"));
  EXPECT_FALSE(Dom("Example.com"));
}

TEST_F(UrlDbEngineTest, KeyTwiceInATableIsStoredOnceAndValuesAreLoadPositions) {
  ASSERT_EQ(Load(WriteTexts({"u0", "u1", "u0", "u2"}, {"s0", "s1"}, {"d0", "d0", "d0", "d1"})),
            nsUrlDb2::kUrlDbOk);
  ExpectCounts(3, 2, 2);
  // Sized by the announced counts, duplicates included.
  ExpectBuckets(14, 12, 14);
  EXPECT_EQ(Position(engine_.url_table(), "u0"), 0);
  EXPECT_EQ(Position(engine_.url_table(), "u1"), 1);
  EXPECT_EQ(Position(engine_.url_table(), "u2"), 2);
  EXPECT_EQ(Position(engine_.subdomain_table(), "s0"), 0);
  EXPECT_EQ(Position(engine_.subdomain_table(), "s1"), 1);
  EXPECT_EQ(Position(engine_.domain_table(), "d0"), 0);
  EXPECT_EQ(Position(engine_.domain_table(), "d1"), 1);
  // Each table counts its own positions.
  EXPECT_EQ(Position(engine_.url_table(), "s0"), -1);
}

TEST_F(UrlDbEngineTest, LoadAddsToWhatTheTablesHold) {
  ASSERT_EQ(Load(WriteTexts({"a", "b"}, {"sa"}, {})), nsUrlDb2::kUrlDbOk);
  ASSERT_EQ(Load(WriteTexts({"c", "a", "d"}, {}, {"dz"})), nsUrlDb2::kUrlDbOk);
  ExpectCounts(4, 1, 1);
  // The second file's counts size the tables; what they held is re-chained.
  ExpectBuckets(13, 10, 11);
  for (const char* t : {"a", "b", "c", "d"}) EXPECT_TRUE(Url(t)) << t;
  EXPECT_TRUE(Sub("sa"));
  EXPECT_TRUE(Dom("dz"));
  EXPECT_EQ(Position(engine_.url_table(), "a"), 0);
  EXPECT_EQ(Position(engine_.url_table(), "b"), 1);
  EXPECT_EQ(Position(engine_.url_table(), "c"), 2);
  EXPECT_EQ(Position(engine_.url_table(), "d"), 3);
}

TEST_F(UrlDbEngineTest, ManyKeysAcrossReadPiecesAllLoad) {
  const std::vector<std::string> urls = Numbered("http://host%d.example/path", 3000);
  const std::vector<std::string> subs = Numbered("s%d.example", 1500);
  const std::vector<std::string> doms = Numbered("d%d.example", 1025);
  ASSERT_EQ(Load(WriteTexts(urls, subs, doms)), nsUrlDb2::kUrlDbOk);
  ExpectCounts(3000, 1500, 1025);
  ExpectBuckets(3010, 1510, 1035);
  for (size_t i = 0; i < urls.size(); ++i) {
    ASSERT_EQ(Position(engine_.url_table(), urls[i]), static_cast<int64_t>(i)) << urls[i];
  }
  for (const std::string& s : subs) ASSERT_TRUE(Sub(s)) << s;
  for (const std::string& d : doms) ASSERT_TRUE(Dom(d)) << d;
  EXPECT_FALSE(Url("http://host3000.example/path"));
}

TEST_F(UrlDbEngineTest, BytesAfterTheDomainKeysAreNotRead) {
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 1, 0, 1);
    writer.WriteKey(Key("u"));
    writer.WriteKey(Key("d"));
    writer.WriteKey(Key("extra"));
    out->WriteU8(1);
  });
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbOk);
  ExpectCounts(1, 0, 1);
  EXPECT_TRUE(Url("u"));
  EXPECT_TRUE(Dom("d"));
  EXPECT_FALSE(Url("extra"));
  EXPECT_FALSE(Dom("extra"));
}

// --- failures --------------------------------------------------------------------

TEST_F(UrlDbEngineTest, MissingFileAnswersMinus13AndLogsNotFound) {
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(Load(dir_.File("no-such.dat")), nsUrlDb2::kUrlDbFileNotFound);
  EXPECT_EQ(CountLines(trace, "[URLDB2 Engine] Signature file not found"), 1);
  EXPECT_EQ(CountLines(trace, "urldb2.cc:733"), 1);
  ExpectCounts(0, 0, 0);
  ExpectBuckets(32, 32, 32);
}

TEST_F(UrlDbEngineTest, FileThatIsNotAContainerAnswersMinus13) {
  const std::string path = NewPath();
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(300, 'x');
  }
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbFileNotFound);
  EXPECT_EQ(CountLines(trace, "[URLDB2 Engine] Signature file not found"), 1);
  ExpectCounts(0, 0, 0);
}

TEST_F(UrlDbEngineTest, OtherDigestWidthIsRefusedAndLeavesTablesAsTheyWere) {
  ASSERT_EQ(Load(WriteTexts({"u1", "u2"}, {"s1"}, {"d1"})), nsUrlDb2::kUrlDbOk);
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(3, 100, 100, 100);
    writer.WriteKey(Key("w"));
  });
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbWrongWidth);
  EXPECT_EQ(CountLines(trace,
                       "[URLDB2 Engine] The data file was created using another number of md5 "
                       "bytes!"),
            1);
  EXPECT_EQ(CountLines(trace, "urldb2.cc:696"), 1);
  EXPECT_EQ(CountLines(trace, "Corrupt"), 0);
  ExpectCounts(2, 1, 1);
  ExpectBuckets(12, 11, 11);
  EXPECT_TRUE(Url("u1"));
  EXPECT_FALSE(Url("w"));
  // The working copy was removed by closing the stream.
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    leftovers += entry.path().filename().string().rfind(CBinaryStreamer::kTempPrefix, 0) == 0;
  }
  EXPECT_EQ(leftovers, 0);
}

TEST_F(UrlDbEngineTest, FileEndingInsideSubdomainKeysKeepsWhatWasReadAndAnswersMinus14) {
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 3, 4, 2);
    writer.WriteKey(Key("u0"));
    writer.WriteKey(Key("u1"));
    writer.WriteKey(Key("u2"));
    writer.WriteKey(Key("s0"));
    writer.WriteKey(Key("s1"));
    out->WriteU32(static_cast<uint32_t>(Key("s2")));  // the low half only
  });
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbFileCorrupt);
  EXPECT_EQ(CountLines(trace, "[URLDB2 Engine] Data File Corrupt!"), 1);
  EXPECT_EQ(CountLines(trace, "urldb2.cc:727"), 1);
  ExpectCounts(3, 2, 0);
  // All three tables were sized before any key was read.
  ExpectBuckets(13, 14, 12);
  EXPECT_TRUE(Url("u0") && Url("u1") && Url("u2"));
  EXPECT_TRUE(Sub("s0") && Sub("s1"));
  EXPECT_FALSE(Sub("s2"));
}

TEST_F(UrlDbEngineTest, LongFileEndingEarlyKeepsEveryWholeKeyBeforeTheEnd) {
  // The end falls in the middle of a read piece of the URL keys.
  const std::vector<std::string> urls = Numbered("http://x%d.example/", 2500);
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 3000, 1, 1);
    const std::vector<uint64_t> keys = Keys(urls);
    writer.WriteKeys(keys.data(), keys.size());
  });
  ASSERT_EQ(Load(path), nsUrlDb2::kUrlDbFileCorrupt);
  ExpectCounts(2500, 0, 0);
  for (const std::string& u : urls) ASSERT_TRUE(Url(u)) << u;
}

TEST_F(UrlDbEngineTest, FileEndingInsideCountsAnswersMinus14AndResizesNothing) {
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer* out) {
    out->WriteU32(2);
    out->WriteU32(5);
  });
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbFileCorrupt);
  EXPECT_EQ(CountLines(trace, "[URLDB2 Engine] Data File Corrupt!"), 1);
  ExpectCounts(0, 0, 0);
  ExpectBuckets(32, 32, 32);
}

TEST_F(UrlDbEngineTest, CountsBeyondThePayloadSizeNoTableBeyondItsKeys) {
  // A damaged header: ten million URLs and sub-domains and 2^32 - 1 domains
  // announced, two keys present. Sized by the counts, the URL table alone
  // would take 160 MB of chains, and the domain count would wrap.
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer* out) {
    UrlDbFileWriter writer(out);
    writer.WriteHeader(2, 10000000, 10000000, 0xFFFFFFFFu);
    writer.WriteKey(Key("u0"));
    writer.WriteKey(Key("u1"));
  });
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbFileCorrupt);
  ExpectCounts(2, 0, 0);
  ExpectBuckets(12, 12, 12);
  EXPECT_TRUE(Url("u0") && Url("u1"));
}

TEST_F(UrlDbEngineTest, EmptyPayloadIsCorrupt) {
  const std::string path = NewPath();
  WritePayload(path, dir_.path(), [](IStreamer*) {});
  EXPECT_EQ(Load(path), nsUrlDb2::kUrlDbFileCorrupt);
  ExpectCounts(0, 0, 0);
}

// --- clearing ----------------------------------------------------------------------

TEST_F(UrlDbEngineTest, ClearEmptiesTablesButKeepsTheirBuckets) {
  ASSERT_EQ(Load(WriteTexts(Numbered("u%d", 50), Numbered("s%d", 7), {"d"})), nsUrlDb2::kUrlDbOk);
  ExpectBuckets(60, 17, 11);
  engine_.Clear();
  ExpectCounts(0, 0, 0);
  ExpectBuckets(60, 17, 11);
  EXPECT_FALSE(Url("u0"));
  EXPECT_FALSE(Sub("s0"));
  EXPECT_FALSE(Dom("d"));
  // Clearing twice is harmless, and the tables take keys again.
  engine_.Clear();
  ASSERT_EQ(Load(WriteTexts({"u3"}, {}, {"d"})), nsUrlDb2::kUrlDbOk);
  ExpectCounts(1, 0, 1);
  EXPECT_TRUE(Url("u3"));
  EXPECT_FALSE(Url("u4"));
  EXPECT_EQ(Position(engine_.url_table(), "u3"), 0);
}

// --- threads -------------------------------------------------------------------------

TEST_F(UrlDbEngineTest, ManyThreadsLookingUpOnOneEngineGetTheSameAnswers) {
  const std::vector<std::string> listed = Numbered("http://listed%d.example/", 2000);
  const std::vector<std::string> unlisted = Numbered("http://clean%d.example/", 2000);
  ASSERT_EQ(Load(WriteTexts(listed, {}, Numbered("dom%d.example", 100))), nsUrlDb2::kUrlDbOk);
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (size_t i = 0; i < listed.size(); ++i) {
          wrong[t] += !engine_.IsListedUrl(listed[i].data(), listed[i].size());
          wrong[t] += engine_.IsListedUrl(unlisted[i].data(), unlisted[i].size());
          wrong[t] += engine_.IsListedDomain(listed[i].data(), listed[i].size());
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
