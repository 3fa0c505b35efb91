#include "common/binstreamer.h"

#include <gtest/gtest.h>
#include <nettle/md5.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using ascommon::CBinaryStreamer;
using ascommon::sstring;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWrite = CBinaryStreamer::kModeWrite;
constexpr uint32_t kRead = CBinaryStreamer::kModeRead;

Bytes ReadBytesOf(const std::string& path) {
  const std::string s = tervo_test::ReadFile(path);
  return Bytes(s.begin(), s.end());
}

void WriteBytesTo(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Unscrambled(const std::string& path) {
  Bytes bytes = ReadBytesOf(path);
  for (uint8_t& b : bytes) b ^= 0xA7;
  return bytes;
}

Bytes Md5(const uint8_t* data, size_t size) {
  struct md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, size, data);
  Bytes digest(MD5_DIGEST_SIZE);
  md5_digest(&ctx, MD5_DIGEST_SIZE, digest.data());
  return digest;
}

Bytes Hex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Runs `op` and answers the text of the ASException it raises ("" when none).
template <class Exception = ASException>
std::string RaisedText(const std::function<void()>& op) {
  try {
    op();
  } catch (const Exception& e) {
    return e.what();
  }
  return "";
}

class BinStreamerTest : public ::testing::Test {
 protected:
  // Every case, failing opens included, must leave no working copy behind.
  void TearDown() override { EXPECT_EQ(std::vector<std::string>{}, TempCopies()); }

  std::vector<std::string> TempCopies() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(work_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("qxas", 0) == 0) found.push_back(name);
    }
    return found;
  }

  std::string Data(const std::string& name) const { return data_.File(name); }
  const char* Work() const { return work_.path().c_str(); }

  // Version 3, the u32 1 and the string "abc".
  std::string WriteSample(const std::string& name = "sample.bin") {
    const std::string path = Data(name);
    CBinaryStreamer out(path.c_str(), kWrite, Work(), 3);
    out.WriteU32(1);
    out.WriteSString(sstring("abc"));
    return path;
  }

  std::string Open(const std::string& path) {
    return RaisedText([&] { CBinaryStreamer in(path.c_str(), kRead, Work(), 0); });
  }

  tervo_test::TempDir data_;
  tervo_test::TempDir work_;
};

TEST_F(BinStreamerTest, WrittenFileHasTheHeaderPayloadDigestAndScrambling) {
  const std::string path = WriteSample();

  Bytes plain(128, 0);
  const std::string description = "File description should go here!";
  std::copy(description.begin(), description.end(), plain.begin() + 16);
  plain[124] = 3;
  const Bytes payload = {0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'};
  plain.insert(plain.end(), payload.begin(), payload.end());
  const Bytes digest = Hex("2c23a2cecf96c169ecc9c6f9fbb4c3fd");
  std::copy(digest.begin(), digest.end(), plain.begin());

  const Bytes disk = ReadBytesOf(path);
  ASSERT_EQ(plain.size(), disk.size());
  for (size_t i = 0; i < disk.size(); ++i) {
    EXPECT_EQ(plain[i] ^ 0xA7, disk[i]) << "offset " << i;
  }
  EXPECT_EQ(Md5(payload.data(), payload.size()), digest);
}

TEST_F(BinStreamerTest, ReadingGivesTheHeaderAndTheValuesBack) {
  const std::string path = WriteSample();
  // The version is taken from the file; the one given here is ignored.
  CBinaryStreamer in(path.c_str(), kRead, Work(), 99);
  EXPECT_TRUE(in.is_open());
  EXPECT_FALSE(in.is_write());
  EXPECT_EQ(3u, in.version());
  EXPECT_EQ(0u, in.header().word1);
  EXPECT_EQ(0u, in.header().word2);
  EXPECT_STREQ("File description should go here!", in.description().c_str());
  EXPECT_EQ(Hex("2c23a2cecf96c169ecc9c6f9fbb4c3fd"), Bytes(in.digest(), in.digest() + 16));
  EXPECT_EQ(11u, in.payload_size());
  EXPECT_EQ(1u, in.ReadU32());
  sstring text;
  in.ReadSString(&text);
  EXPECT_STREQ("abc", text.c_str());
  EXPECT_EQ(3u, text.length());
  EXPECT_EQ("ASException - MESSAGE: cannot read from file", RaisedText([&] { in.ReadU8(); }));
}

TEST_F(BinStreamerTest, EachWriterEncodesLittleEndian) {
  const sstring chars("chars");
  const uint16_t u16s[] = {0x0102, 0xFFFF};
  const int16_t i16s[] = {-2, 0x0304};
  const uint32_t u32s[] = {0x01020304};
  const int32_t i32s[] = {-1, 5};
  struct Case {
    const char* name;
    std::function<void(CBinaryStreamer&)> write;
    Bytes bytes;
  } cases[] = {
      {"u16", [](CBinaryStreamer& s) { s.WriteU16(0xBEEF); }, {0xEF, 0xBE}},
      {"i16", [](CBinaryStreamer& s) { s.WriteI16(-2); }, {0xFE, 0xFF}},
      {"u32", [](CBinaryStreamer& s) { s.WriteU32(0xDEADBEEF); }, {0xEF, 0xBE, 0xAD, 0xDE}},
      {"i32", [](CBinaryStreamer& s) { s.WriteI32(-123456); }, {0xC0, 0x1D, 0xFE, 0xFF}},
      {"u8", [](CBinaryStreamer& s) { s.WriteU8(0xFE); }, {0xFE}},
      {"bytes", [](CBinaryStreamer& s) { EXPECT_EQ(3u, s.WriteBytes("\x00\x01\x02", 3)); }, {0, 1, 2}},
      {"u16 array", [&](CBinaryStreamer& s) { s.WriteArrayU16(u16s, 2); }, {0x02, 0x01, 0xFF, 0xFF}},
      {"i16 array", [&](CBinaryStreamer& s) { s.WriteArrayI16(i16s, 2); }, {0xFE, 0xFF, 0x04, 0x03}},
      {"u32 array", [&](CBinaryStreamer& s) { s.WriteArrayU32(u32s, 1); }, {0x04, 0x03, 0x02, 0x01}},
      {"i32 array",
       [&](CBinaryStreamer& s) { s.WriteArrayI32(i32s, 2); },
       {0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00}},
      {"chars", [&](CBinaryStreamer& s) { EXPECT_EQ(5u, s.WriteChars(chars)); }, {'c', 'h', 'a', 'r', 's'}},
      {"format", [](CBinaryStreamer& s) { EXPECT_EQ(6u, s.WriteFormat("n=%d;%s", 42, "x")); },
       {'n', '=', '4', '2', ';', 'x'}},
      {"sstring", [](CBinaryStreamer& s) { s.WriteSString(sstring("hi")); }, {2, 0, 0, 0, 'h', 'i'}},
  };
  for (const Case& c : cases) {
    const std::string path = Data("enc.bin");
    {
      CBinaryStreamer out(path.c_str(), kWrite, Work(), 1);
      c.write(out);
      EXPECT_EQ(c.bytes.size(), out.payload_size()) << c.name;
    }
    const Bytes plain = Unscrambled(path);
    EXPECT_EQ(c.bytes, Bytes(plain.begin() + 128, plain.end())) << c.name;
  }
}

TEST_F(BinStreamerTest, EveryPrimitiveRoundTrips) {
  const std::string path = Data("all.bin");
  const uint16_t u16s[] = {0, 1, 0x8000, 0xFFFF};
  const int16_t i16s[] = {-32768, -1, 0, 32767};
  const uint32_t u32s[] = {0, 0x80000000u, 0xFFFFFFFFu};
  const int32_t i32s[] = {INT32_MIN, -1, INT32_MAX};
  const uint8_t raw[] = {0, 0xA7, 0xFF, 0x10};
  {
    CBinaryStreamer out(path.c_str(), kWrite, Work(), 7);
    out.WriteU16(0xFFFE);
    out.WriteI16(-300);
    out.WriteU32(0xFFFFFFFEu);
    out.WriteI32(INT32_MIN);
    out.WriteU8(0xA7);
    out.WriteBytes(raw, sizeof raw);
    out.WriteArrayU16(u16s, 4);
    out.WriteArrayI16(i16s, 4);
    out.WriteArrayU32(u32s, 3);
    out.WriteArrayI32(i32s, 3);
    out.WriteChars(sstring("plain"));
    out.WriteFormat("%s-%04x", "fmt", 0xBEEFu);
    out.WriteSString(sstring("string with bytes \xC3\xA9\xFF"));
  }
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  EXPECT_EQ(7u, in.version());
  EXPECT_EQ(0xFFFE, in.ReadU16());
  EXPECT_EQ(-300, in.ReadI16());
  EXPECT_EQ(0xFFFFFFFEu, in.ReadU32());
  EXPECT_EQ(INT32_MIN, in.ReadI32());
  EXPECT_EQ(0xA7, in.ReadU8());
  uint8_t raw_back[4];
  EXPECT_EQ(4u, in.ReadBytes(raw_back, 4));
  EXPECT_TRUE(std::equal(raw, raw + 4, raw_back));
  uint16_t u16_back[4];
  int16_t i16_back[4];
  uint32_t u32_back[3];
  int32_t i32_back[3];
  EXPECT_EQ(4u, in.ReadArrayU16(u16_back, 4));
  EXPECT_EQ(4u, in.ReadArrayI16(i16_back, 4));
  EXPECT_EQ(3u, in.ReadArrayU32(u32_back, 3));
  EXPECT_EQ(3u, in.ReadArrayI32(i32_back, 3));
  EXPECT_TRUE(std::equal(u16s, u16s + 4, u16_back));
  EXPECT_TRUE(std::equal(i16s, i16s + 4, i16_back));
  EXPECT_TRUE(std::equal(u32s, u32s + 3, u32_back));
  EXPECT_TRUE(std::equal(i32s, i32s + 3, i32_back));
  sstring text;
  EXPECT_EQ(5u, in.ReadString(&text, 5));
  EXPECT_STREQ("plain", text.c_str());
  EXPECT_EQ(8u, in.ReadString(&text, 8));
  EXPECT_STREQ("fmt-beef", text.c_str());
  in.ReadSString(&text);
  EXPECT_STREQ("string with bytes \xC3\xA9\xFF", text.c_str());
  EXPECT_EQ("ASException - MESSAGE: cannot read from file", RaisedText([&] { in.ReadU16(); }));
}

TEST_F(BinStreamerTest, EmptyPayloadDigestsNothing) {
  const std::string path = Data("empty.bin");
  { CBinaryStreamer out(path.c_str(), kWrite, Work(), 2); }
  EXPECT_EQ(128u, fs::file_size(path));
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  EXPECT_EQ(Hex("d41d8cd98f00b204e9800998ecf8427e"), Bytes(in.digest(), in.digest() + 16));
  EXPECT_EQ(0u, in.payload_size());
  EXPECT_EQ("ASException - MESSAGE: cannot read from file", RaisedText([&] { in.ReadU8(); }));
}

TEST_F(BinStreamerTest, WritingReplacesAnExistingFile) {
  const std::string path = Data("again.bin");
  WriteBytesTo(path, Bytes(1000, 0x55));
  { CBinaryStreamer out(path.c_str(), kWrite, Work(), 1); out.WriteU8(9); }
  EXPECT_EQ(129u, fs::file_size(path));
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  EXPECT_EQ(9, in.ReadU8());
}

TEST_F(BinStreamerTest, ReadingWorksFromAnUnscrambledCopyInTheWorkFolder) {
  const std::string path = WriteSample();
  {
    // Backslashed paths are accepted for the file and the work folder alike.
    std::string windows_path = path, windows_work = Work();
    std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
    std::replace(windows_work.begin(), windows_work.end(), '/', '\\');
    CBinaryStreamer in(windows_path.c_str(), kRead, windows_work.c_str(), 0);
    const std::vector<std::string> copies = TempCopies();
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ(Unscrambled(path), ReadBytesOf(work_.File(copies[0])));
    EXPECT_EQ(1u, in.ReadU32());
    in.Close();
    EXPECT_FALSE(in.is_open());
    EXPECT_EQ(std::vector<std::string>{}, TempCopies());
    in.Close();  // a second close does nothing
  }
  // Mode values other than write read, too.
  CBinaryStreamer other(path.c_str(), 7, Work(), 0);
  EXPECT_FALSE(other.is_write());
  EXPECT_EQ(1u, other.ReadU32());
}

TEST_F(BinStreamerTest, AChangedPayloadByteFailsTheDigestAtTheFirstDifferingPosition) {
  struct Case {
    size_t offset;  // in the file
    uint8_t plain;  // the byte's new unscrambled value
    int position;   // first digest byte that differs
  } cases[] = {
      {128 + 10, 'b', 0},    // md5 ...abb = d092...
      {128 + 1, 0x0D, 1},    // md5 = 2c0c...
      {128 + 7, 0x5F, 1},    // md5 = 2cf1...
      {5, 0x00, 5},          // the stored digest itself
      {15, 0x00, 15},        // its last byte
  };
  for (const Case& c : cases) {
    const std::string path = WriteSample();
    Bytes disk = ReadBytesOf(path);
    disk[c.offset] = c.plain ^ 0xA7;
    WriteBytesTo(path, disk);

    // Cross-check the expected position against an independent digest.
    const Bytes plain = Unscrambled(path);
    const Bytes actual = Md5(plain.data() + 128, plain.size() - 128);
    const auto diff = std::mismatch(actual.begin(), actual.end(), plain.begin()).first;
    ASSERT_EQ(c.position, diff - actual.begin());

    tervo_test::CapturingTrace trace;
    const std::string expected = "ASException - MESSAGE: File CRC does not match with its stored CRC! [" + path +
                                 "] position " + std::to_string(c.position);
    EXPECT_EQ(expected, Open(path));
    const std::vector<std::string> lines = trace.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines.back().find("[ANTISPAM EXCEPTION]"));
    EXPECT_NE(std::string::npos, lines.back().find(expected));
    EXPECT_EQ(0, trace.levels().back());
    EXPECT_EQ(std::vector<std::string>{}, TempCopies());
  }
}

TEST_F(BinStreamerTest, ReadersOnAWriteStreamAndWritersOnAReadStreamRaise) {
  const std::string path = WriteSample();
  uint8_t buf[4] = {1, 2, 3, 4};
  uint16_t u16s[1] = {1};
  int16_t i16s[1] = {1};
  uint32_t u32s[1] = {1};
  int32_t i32s[1] = {1};
  sstring text("t");
  const std::function<void(CBinaryStreamer&)> readers[] = {
      [](CBinaryStreamer& s) { s.ReadU16(); },
      [](CBinaryStreamer& s) { s.ReadI16(); },
      [](CBinaryStreamer& s) { s.ReadU32(); },
      [](CBinaryStreamer& s) { s.ReadI32(); },
      [](CBinaryStreamer& s) { s.ReadU8(); },
      [&](CBinaryStreamer& s) { s.ReadBytes(buf, 1); },
      [&](CBinaryStreamer& s) { s.ReadArrayU16(u16s, 1); },
      [&](CBinaryStreamer& s) { s.ReadArrayI16(i16s, 1); },
      [&](CBinaryStreamer& s) { s.ReadArrayU32(u32s, 1); },
      [&](CBinaryStreamer& s) { s.ReadArrayI32(i32s, 1); },
      [&](CBinaryStreamer& s) { s.ReadString(&text, 1); },
      [&](CBinaryStreamer& s) { s.ReadSString(&text); },
  };
  const std::function<void(CBinaryStreamer&)> writers[] = {
      [](CBinaryStreamer& s) { s.WriteU16(1); },
      [](CBinaryStreamer& s) { s.WriteI16(1); },
      [](CBinaryStreamer& s) { s.WriteU32(1); },
      [](CBinaryStreamer& s) { s.WriteI32(1); },
      [](CBinaryStreamer& s) { s.WriteU8(1); },
      [&](CBinaryStreamer& s) { s.WriteBytes(buf, 1); },
      [&](CBinaryStreamer& s) { s.WriteArrayU16(u16s, 1); },
      [&](CBinaryStreamer& s) { s.WriteArrayI16(i16s, 1); },
      [&](CBinaryStreamer& s) { s.WriteArrayU32(u32s, 1); },
      [&](CBinaryStreamer& s) { s.WriteArrayI32(i32s, 1); },
      [&](CBinaryStreamer& s) { s.WriteChars(text); },
      [](CBinaryStreamer& s) { s.WriteFormat("%d", 1); },
      [&](CBinaryStreamer& s) { s.WriteSString(text); },
  };
  {
    CBinaryStreamer out(Data("w.bin").c_str(), kWrite, Work(), 1);
    for (const auto& read : readers) {
      EXPECT_EQ("ASException - MESSAGE: wrong stream mode: write-only", RaisedText([&] { read(out); }));
    }
  }
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  for (const auto& write : writers) {
    EXPECT_EQ("ASException - MESSAGE: wrong stream mode: read-only", RaisedText([&] { write(in); }));
  }
  // None of the refused calls moved the stream.
  EXPECT_EQ(1u, in.ReadU32());
}

TEST_F(BinStreamerTest, ClosedStreamsRaiseInvalidReference) {
  CBinaryStreamer out(Data("c.bin").c_str(), kWrite, Work(), 1);
  out.Close();
  // The 16-bit and 32-bit writers word it with a leading blank.
  const std::string blank = "ASException - MESSAGE:  invalid reference to file";
  const std::string plain = "ASException - MESSAGE: invalid reference to file";
  EXPECT_EQ(blank, RaisedText([&] { out.WriteU16(1); }));
  EXPECT_EQ(blank, RaisedText([&] { out.WriteI16(1); }));
  EXPECT_EQ(blank, RaisedText([&] { out.WriteU32(1); }));
  EXPECT_EQ(blank, RaisedText([&] { out.WriteI32(1); }));
  EXPECT_EQ(plain, RaisedText([&] { out.WriteU8(1); }));
  EXPECT_EQ(plain, RaisedText([&] { out.WriteBytes("x", 1); }));
  EXPECT_EQ(plain, RaisedText([&] { out.WriteFormat("x"); }));

  CBinaryStreamer in(Data("c.bin").c_str(), kRead, Work(), 0);
  in.Close();
  EXPECT_EQ(plain, RaisedText([&] { in.ReadU32(); }));
  uint8_t b;
  EXPECT_EQ(plain, RaisedText([&] { in.ReadBytes(&b, 1); }));
}

TEST_F(BinStreamerTest, NullArgumentsAndZeroCountsRaise) {
  CBinaryStreamer out(Data("n.bin").c_str(), kWrite, Work(), 1);
  const std::string invalid = "ASException - MESSAGE: invalid argument string";
  const std::string cannot = "ASException - MESSAGE: Cannot write to file";
  const char* no_format = nullptr;
  const uint16_t one[1] = {1};
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteBytes(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteArrayU16(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteArrayI16(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteArrayU32(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteArrayI32(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { out.WriteChars(sstring()); }));
  EXPECT_EQ("ASException - MESSAGE: invalid format string", RaisedText([&] { out.WriteFormat(no_format, 1); }));
  EXPECT_EQ(cannot, RaisedText([&] { out.WriteBytes("x", 0); }));
  EXPECT_EQ(cannot, RaisedText([&] { out.WriteArrayU16(one, 0); }));
  EXPECT_EQ(cannot, RaisedText([&] { out.WriteChars(sstring("")); }));
  EXPECT_EQ(0u, out.WriteFormat("%s", ""));
  out.WriteU8(1);
  out.WriteU8(2);
  out.Close();
  EXPECT_EQ(2u, out.payload_size());

  CBinaryStreamer in(Data("n.bin").c_str(), kRead, Work(), 0);
  uint8_t buf[2];
  const std::string cannot_read = "ASException - MESSAGE: cannot read from file";
  EXPECT_EQ(invalid, RaisedText([&] { in.ReadBytes(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { in.ReadArrayU32(nullptr, 1); }));
  EXPECT_EQ(invalid, RaisedText([&] { in.ReadString(nullptr, 1); }));
  EXPECT_EQ(cannot_read, RaisedText([&] { in.ReadBytes(buf, 0); }));
  EXPECT_EQ(cannot_read, RaisedText([&] { in.ReadArrayU16(reinterpret_cast<uint16_t*>(buf), 0); }));
  EXPECT_EQ(2u, in.ReadBytes(buf, 2));
  EXPECT_EQ(1, buf[0]);
  EXPECT_EQ(2, buf[1]);
}

TEST_F(BinStreamerTest, ShortWritesRaiseWithTheWritersWording) {
  // /dev/full takes the header into the stream's buffer, then refuses.
  CBinaryStreamer out("/dev/full", kWrite, Work(), 1);
  const std::vector<uint8_t> big(1 << 16, 1);
  EXPECT_EQ("ASException - MESSAGE: Cannot write to file",
            RaisedText([&] { out.WriteBytes(big.data(), static_cast<uint32_t>(big.size())); }));
  std::string text;
  for (int i = 0; i < 100000 && text.empty(); ++i) text = RaisedText([&] { out.WriteU16(1); });
  EXPECT_EQ("ASException - MESSAGE:  Cannot write to file", text);
  // Closing fails too; the exception is raised and the stream is gone.
  EXPECT_NE("", RaisedText<ASFileException>([&] { out.Close(); }));
  EXPECT_FALSE(out.is_open());
}

TEST_F(BinStreamerTest, StringsWithZerosOrNoCharactersAreRefused) {
  const std::string path = Data("s.bin");
  {
    CBinaryStreamer out(path.c_str(), kWrite, Work(), 1);
    out.WriteU32(3);
    out.WriteBytes("a\0b", 3);
    out.WriteU32(0);
    out.WriteU32(0xFFFFFFF0u);  // a length far beyond the file
    EXPECT_EQ("ASException - MESSAGE: Cannot write to file", RaisedText([&] { out.WriteSString(sstring("")); }));
    EXPECT_EQ("ASException - MESSAGE: invalid argument string", RaisedText([&] { out.WriteSString(sstring()); }));
  }
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  sstring text("before");
  EXPECT_EQ("ASException - MESSAGE: read string contains terminating characters!",
            RaisedText([&] { in.ReadSString(&text); }));
  EXPECT_STREQ("before", text.c_str());
  EXPECT_EQ("ASException - MESSAGE: cannot read from file", RaisedText([&] { in.ReadSString(&text); }));
  EXPECT_EQ("ASException - MESSAGE: cannot read from file", RaisedText([&] { in.ReadSString(&text); }));
  EXPECT_STREQ("before", text.c_str());
}

TEST_F(BinStreamerTest, FilesUpTo50MBAreAcceptedAndLargerOnesRefused) {
  constexpr uint64_t kLimit = 52428800;
  const std::string path = Data("big.bin");
  {
    CBinaryStreamer out(path.c_str(), kWrite, Work(), 1);
    std::vector<uint8_t> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7);
    uint64_t left = kLimit - 128;
    while (left > 0) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, chunk.size()));
      out.WriteBytes(chunk.data(), n);
      left -= n;
    }
  }
  ASSERT_EQ(kLimit, fs::file_size(path));
  {
    CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
    EXPECT_EQ(kLimit - 128, in.payload_size());
    uint8_t first[3];
    in.ReadBytes(first, 3);
    EXPECT_EQ(0, first[0]);
    EXPECT_EQ(7, first[1]);
    EXPECT_EQ(14, first[2]);
  }

  const std::string over = Data("over.bin");
  std::ofstream(over).close();
  fs::resize_file(over, kLimit + 1);
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: file [" + over + "]ize exceeds 50 MB. It is to large [" + over + "]",
            RaisedText<ASFileException>([&] { CBinaryStreamer in(over.c_str(), kRead, Work(), 0); }));
}

TEST_F(BinStreamerTest, UnopenableFilesRaiseAndLeaveNoCopy) {
  struct Case {
    std::string name;
    Bytes contents;
  } cases[] = {{"short.bin", Bytes(100, 0xA7)}, {"zero.bin", Bytes()}, {"127.bin", Bytes(127, 0)}};
  for (const Case& c : cases) {
    WriteBytesTo(Data(c.name), c.contents);
    const std::string text = Open(Data(c.name));
    EXPECT_EQ(0u, text.rfind("ASException - MESSAGE: File [" + Data(c.name) + "] is too short", 0)) << text;
  }
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: Could not access file [" + Data("missing.bin") + "]",
            Open(Data("missing.bin")));
  fs::create_directory(Data("folder.bin"));
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: Could not access file [" + Data("folder.bin") + "]",
            Open(Data("folder.bin")));
}

TEST_F(BinStreamerTest, AMissingWorkFolderOrTargetFolderRaises) {
  const std::string sample = WriteSample();
  const std::string missing = work_.File("gone");
  tervo_test::CapturingTrace trace;
  EXPECT_EQ("ASFileException - MESSAGE: Could not create a temp filename in folder \"" + missing + "\"",
            RaisedText<ASFileException>([&] { CBinaryStreamer in(sample.c_str(), kRead, missing.c_str(), 0); }));
  ASSERT_FALSE(trace.lines().empty());
  EXPECT_NE(std::string::npos, trace.lines().back().find("binstreamer.cc:54 "));

  const std::string nowhere = Data("no/such/folder.bin");
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: Could not open file [" + nowhere + "] for write",
            RaisedText<ASFileException>([&] { CBinaryStreamer out(nowhere.c_str(), kWrite, Work(), 1); }));
  EXPECT_EQ("ASBadPtrException - MESSAGE: invalid file path",
            RaisedText<ASBadPtrException>([&] { CBinaryStreamer out(nullptr, kWrite, Work(), 1); }));
}

TEST_F(BinStreamerTest, OpeningAndClosingAreLogged) {
  tervo_test::CapturingTrace trace;
  const std::string path = WriteSample();
  { CBinaryStreamer in(path.c_str(), kRead, Work(), 0); }
  std::vector<std::string> lines = trace.lines();
  const std::vector<int32_t> levels = trace.levels();
  auto has = [&](const std::string& where, const std::string& text) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (levels[i] == 3 && lines[i].find(where) != std::string::npos && lines[i].find(text) != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(has("binstreamer.cc:57 ", "Bin Streamer temp file: " + std::string(Work()) + "/qxas"));
  EXPECT_TRUE(has("binstreamer.cc:63 ", "Opening file [" + path + "] for write"));
  EXPECT_TRUE(has("binstreamer.cc:90 ", "Opening file [" + path + "] for read"));
  EXPECT_TRUE(has("binstreamer.cc:139", "Closing file [" + path + "]"));
}

TEST_F(BinStreamerTest, DestructorSwallowsAFailedClose) {
  const std::string path = Data("vanishing.bin");
  tervo_test::CapturingTrace trace;
  EXPECT_NO_THROW({
    CBinaryStreamer out(path.c_str(), kWrite, Work(), 1);
    out.WriteU32(5);
    fs::remove(path);
  });
  ASSERT_FALSE(trace.lines().empty());
  EXPECT_NE(std::string::npos, trace.lines().back().find("ASFileException - CODE: -700"));
  EXPECT_FALSE(fs::exists(path));
}

TEST(ComputeCRC, DigestsBuffersAndRefusesNullArguments) {
  uint8_t digest[16];
  CBinaryStreamer::ComputeCRC("abc", 3, digest);
  EXPECT_EQ(Hex("900150983cd24fb0d6963f7d28e17f72"), Bytes(digest, digest + 16));

  tervo_test::CapturingTrace trace;
  const std::string expected = "ASBadPtrException - MESSAGE: Invalid parameters in ComputeCRC";
  EXPECT_EQ(expected, RaisedText<ASBadPtrException>([&] { CBinaryStreamer::ComputeCRC(nullptr, 3, digest); }));
  EXPECT_EQ(expected, RaisedText<ASBadPtrException>([&] { CBinaryStreamer::ComputeCRC("abc", 3, nullptr); }));
  ASSERT_EQ(2u, trace.lines().size());
  EXPECT_NE(std::string::npos, trace.lines()[0].find("binstreamer.cc:391 ] - " + expected));
}

}  // namespace
