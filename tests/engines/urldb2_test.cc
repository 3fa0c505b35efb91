#include "src/engines/urldb2/urldb2.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "tests/support/data_files.h"
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

std::vector<std::string> Numbered(const std::string& prefix, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

// A container whose payload `fill` writes through a blacklist writer.
void WritePayload(const std::string& path,
                  const std::function<void(UrlDbFileWriter*, IStreamer*)>& fill) {
  tervo_test::WriteDataFile(path, nsUrlDb2::kUrlDbFileVersion, [&](IStreamer* out) {
    UrlDbFileWriter writer(out);
    fill(&writer, out);
  });
}

class UrlDbEngineTest : public ::testing::Test {
 protected:
  std::string NewPath() { return dir_.File("imblacklist" + std::to_string(files_++) + ".dat"); }

  std::string WriteTexts(const std::vector<std::string>& urls,
                         const std::vector<std::string>& subs = {},
                         const std::vector<std::string>& doms = {}) {
    const std::string path = NewPath();
    tervo_test::WriteBlacklistFile(path, nsUrlDb2::BlacklistKeys{Keys(urls), Keys(subs), Keys(doms)});
    return path;
  }
  int32_t Load(const std::string& path) {
    return engine_.Load(path.c_str(), sstring(dir_.path().c_str()));
  }

  bool Url(const std::string& t) const { return engine_.IsListedUrl(t.data(), t.size()); }
  bool Sub(const std::string& t) const { return engine_.IsListedSubdomain(t.data(), t.size()); }
  bool Dom(const std::string& t) const { return engine_.IsListedDomain(t.data(), t.size()); }
  // The tables that list `t`: "url", "sub", "dom" run together.
  std::string Where(const std::string& t) const {
    return std::string(Url(t) ? "url" : "") + (Sub(t) ? "sub" : "") + (Dom(t) ? "dom" : "");
  }

  std::vector<uint32_t> Counts() const {
    return {engine_.GetUrlCount(), engine_.GetSubdomainCount(), engine_.GetDomainCount()};
  }
  std::vector<uint32_t> Buckets() const {
    return {engine_.url_table().GetBucketCount(), engine_.subdomain_table().GetBucketCount(),
            engine_.domain_table().GetBucketCount()};
  }

  tervo_test::TempDir dir_;
  CUrlDb2Engine engine_;
  int files_ = 0;
};

TEST(UrlDbFormat, DigestKeyIsFirstEightMd5BytesLittleEndian) {
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  const struct {
    const char* text;
    size_t n;
    uint64_t key;
  } cases[] = {
      {"", 0, 0x04b2008fd98c1dd4ull},  // MD5 d41d8cd98f00b204...
      {nullptr, 0, 0x04b2008fd98c1dd4ull},
      {"abc", 3, 0xb04fd23c98500190ull},  // MD5 900150983cd24fb0...
      {"abcdef", 3, 0xb04fd23c98500190ull},  // the length decides, not a terminator
      {fox.c_str(), fox.size(), 0x82b62b379d7d109eull},  // MD5 9e107d9d372bb682...
  };
  for (const auto& c : cases) EXPECT_EQ(DigestKey(c.text, c.n), c.key) << c.n;
  EXPECT_NE(DigestKey("a\0b", 3), DigestKey("a", 1));
}

// More keys than one piece holds, and a count that is not a whole number of
// pieces; then half a key.
TEST(UrlDbFormat, KeysAreWrittenLowHalfFirstAndReadBackOneByOneAndInPieces) {
  tervo_test::TempDir dir;
  std::vector<uint64_t> keys = {0x1122334455667788ull};
  for (uint32_t i = 1; i < 2 * UrlDbFileReader::kKeysPerRead + 8; ++i) keys.push_back(0x9e3779b97f4a7c15ull * i);
  const std::string path = dir.File("keys.dat");
  WritePayload(path, [&](UrlDbFileWriter* w, IStreamer* out) {
    w->WriteHeader(7, 1, static_cast<uint32_t>(keys.size() - 1), 5);
    w->WriteKey(keys[0]);
    w->WriteKeys(keys.data() + 1, keys.size() - 1);
    out->WriteU32(7);
  });
  CBinaryStreamer raw(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
  EXPECT_EQ(raw.payload_size(), 16u + 8 * keys.size() + 4);
  std::vector<uint32_t> words;
  for (int i = 0; i < 8; ++i) words.push_back(raw.ReadU32());
  EXPECT_EQ(words, (std::vector<uint32_t>{7, 1, static_cast<uint32_t>(keys.size() - 1), 5,
                                          0x55667788u, 0x11223344u,
                                          static_cast<uint32_t>(keys[1]),
                                          static_cast<uint32_t>(keys[1] >> 32)}));
  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 1);
  UrlDbFileReader reader(&in);
  EXPECT_EQ(reader.ReadWidth(), 7u);
  uint32_t urls = 0, subs = 0, doms = 0;
  reader.ReadCounts(&urls, &subs, &doms);
  std::vector<uint64_t> back = {reader.ReadKey()};
  back.resize(keys.size());
  reader.ReadKeys(back.data() + 1, static_cast<uint32_t>(keys.size() - 1));
  EXPECT_EQ(back, keys);
  EXPECT_ANY_THROW(reader.ReadKey());
}

TEST_F(UrlDbEngineTest, LoadAddsEachFilesKeysToTheirOwnTableAndClearEmptiesThem) {
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 0}));
  EXPECT_EQ(Buckets(), (std::vector<uint32_t>{32, 32, 32}));
  EXPECT_FALSE(Url(""));
  ASSERT_EQ(Load(WriteTexts({"http://bad.example/a", "Bob", "u0", "http://bad.example/a"},
                            {"ads.tracker.example"}, {"evil.example", "x.org", "", "x.org"})),
            nsUrlDb2::kUrlDbOk);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{3, 1, 3}));  // a key twice is stored once
  EXPECT_EQ(Buckets(), (std::vector<uint32_t>{14, 11, 14}));  // sized by the announced counts
  const std::pair<std::string, std::string> cases[] = {
      {"http://bad.example/a", "url"}, {"http://bad.example/b", ""}, {"ads.tracker.example", "sub"},
      {"evil.example", "dom"}, {"", "dom"}, {"Bob", "url"}, {"bob", ""}};  // case-sensitive
  for (const auto& [text, where] : cases) EXPECT_EQ(where, Where(text)) << text;
  const char text[] = "Bobby";
  EXPECT_TRUE(engine_.IsListedUrl(text, 3));  // the length decides, not a terminator
  EXPECT_FALSE(engine_.IsListedUrl(text, sizeof text - 1));
  EXPECT_FALSE(engine_.IsListedUrl(nullptr, 3));
  EXPECT_TRUE(engine_.IsListedDomain(nullptr, 0));
  // A second file adds to the tables and sizes them by its own counts; what
  // they held is re-chained.
  ASSERT_EQ(Load(WriteTexts({"c", "Bob", "d"}, {}, {"dz"})), nsUrlDb2::kUrlDbOk);
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{5, 1, 4}));
  EXPECT_EQ(Buckets(), (std::vector<uint32_t>{13, 10, 11}));
  EXPECT_EQ(Where("u0") + Where("Bob") + Where("c") + Where("d") + Where("ads.tracker.example") +
                Where("evil.example") + Where("dz"),
            "urlurlurlurlsubdomdom");
  engine_.Clear();
  EXPECT_EQ(Counts(), (std::vector<uint32_t>{0, 0, 0}));
  EXPECT_EQ(Buckets(), (std::vector<uint32_t>{13, 10, 11}));  // the buckets stay
  EXPECT_EQ(Where("u0") + Where("ads.tracker.example") + Where("dz"), "");
}

// What a load of a damaged or foreign file answers and which keys it keeps.
TEST_F(UrlDbEngineTest, BadFilesAnswerTheirCodeAndKeepWhatWasRead) {
  const std::vector<std::string> long_urls = Numbered("http://x.example/", 2500);
  const struct {
    const char* what;
    std::function<void(UrlDbFileWriter*, IStreamer*)> fill;  // null: not a container
    int32_t rc;
    std::vector<uint32_t> counts, buckets;
    const char* logged;
  } cases[] = {
      {"not a container", nullptr, nsUrlDb2::kUrlDbFileNotFound, {2, 1, 1}, {12, 11, 11},
       "[URLDB2 Engine] Signature file not found"},
      {"another digest width",
       [](UrlDbFileWriter* w, IStreamer*) {
         w->WriteHeader(3, 100, 100, 100);
         w->WriteKey(Key("w"));
       },
       nsUrlDb2::kUrlDbWrongWidth, {2, 1, 1}, {12, 11, 11},
       "[URLDB2 Engine] The data file was created using another number of md5 bytes!"},
      {"empty payload", [](UrlDbFileWriter*, IStreamer*) {}, nsUrlDb2::kUrlDbFileCorrupt,
       {2, 1, 1}, {12, 11, 11}, "[URLDB2 Engine] Data File Corrupt!"},
      // All three tables are sized before any key is read.
      {"ends inside a subdomain key",
       [](UrlDbFileWriter* w, IStreamer* out) {
         w->WriteHeader(2, 3, 4, 2);
         for (const char* k : {"u3", "u4", "u5", "s3", "s4"}) w->WriteKey(Key(k));
         out->WriteU32(static_cast<uint32_t>(Key("s2")));  // the low half only
       },
       nsUrlDb2::kUrlDbFileCorrupt, {5, 3, 1}, {13, 14, 12}, "[URLDB2 Engine] Data File Corrupt!"},
      // The end falls in the middle of a read piece of the URL keys.
      {"ends inside a piece",
       [&](UrlDbFileWriter* w, IStreamer*) {
         w->WriteHeader(2, 3000, 1, 1);
         const std::vector<uint64_t> keys = Keys(long_urls);
         w->WriteKeys(keys.data(), keys.size());
       },
       nsUrlDb2::kUrlDbFileCorrupt, {2502, 1, 1}, {2510, 11, 11}, "Data File Corrupt!"},
      // Counts far beyond the payload size no table beyond its keys.
      {"counts beyond the payload",
       [](UrlDbFileWriter* w, IStreamer*) {
         w->WriteHeader(2, 10000000, 10000000, 0xFFFFFFFFu);
         w->WriteKey(Key("u0"));
         w->WriteKey(Key("u9"));
       },
       nsUrlDb2::kUrlDbFileCorrupt, {4, 1, 1}, {12, 12, 12}, "Data File Corrupt!"},
      {"bytes after the domain keys",
       [](UrlDbFileWriter* w, IStreamer* out) {
         w->WriteHeader(2, 1, 0, 1);
         for (const char* k : {"u0", "d0", "extra"}) w->WriteKey(Key(k));
         out->WriteU8(1);
       },
       nsUrlDb2::kUrlDbOk, {3, 1, 2}, {11, 10, 11}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    engine_.Clear();
    ASSERT_EQ(Load(WriteTexts({"u1", "u2"}, {"s1"}, {"d1"})), nsUrlDb2::kUrlDbOk);
    const std::string path = NewPath();
    if (c.fill) {
      WritePayload(path, c.fill);
    } else {
      std::ofstream(path, std::ios::binary) << std::string(300, 'x');
    }
    tervo_test::CapturingTrace trace;
    EXPECT_EQ(Load(path), c.rc);
    int logged = 0;
    for (const std::string& line : trace.lines()) {
      logged += c.logged != nullptr && line.find(c.logged) != std::string::npos;
    }
    EXPECT_EQ(logged, c.logged != nullptr ? 1 : 0);
    EXPECT_EQ(Counts(), c.counts);
    EXPECT_EQ(Buckets(), c.buckets);
    EXPECT_EQ(Where("u1") + Where("s1") + Where("d1") + Where("w") + Where("s2") + Where("extra"),
              "urlsubdom");
    if (c.counts[0] == 2502) {
      for (const std::string& u : long_urls) ASSERT_TRUE(Url(u)) << u;
    } else if (c.counts[1] == 3) {
      EXPECT_TRUE(Url("u5") && Sub("s4"));
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      EXPECT_NE(entry.path().filename().string().rfind(CBinaryStreamer::kTempPrefix, 0), 0u);
    }
  }
  EXPECT_EQ(Load(dir_.File("no-such.dat")), nsUrlDb2::kUrlDbFileNotFound);
}

TEST_F(UrlDbEngineTest, ManyThreadsLookingUpOnOneEngineGetTheSameAnswers) {
  const std::vector<std::string> listed = Numbered("http://listed.example/", 2000);
  ASSERT_EQ(Load(WriteTexts(listed, {}, {"dom.example"})), nsUrlDb2::kUrlDbOk);
  const auto wrong = [&] {
    int n = 0;
    for (size_t i = 0; i < 5 * listed.size(); ++i) {
      const std::string& url = listed[i % listed.size()];
      n += !Url(url) + Url(url + "x") + Dom(url);
    }
    return n;
  };
  std::vector<int> got(4);
  std::vector<std::thread> threads;
  for (int& g : got) threads.emplace_back([&, at = &g] { *at = wrong(); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(got, std::vector<int>(4, 0));
}

}  // namespace
