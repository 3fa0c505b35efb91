#include "common/binstreamer.h"

#include <gtest/gtest.h>

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

std::string Backslashed(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

constexpr const char* kCannotRead = "ASException - MESSAGE: cannot read from file";

Bytes Hex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Runs `op` and answers the text of the exception it raises ("" when none).
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

TEST_F(BinStreamerTest, WrittenFileHasHeaderPayloadDigestAndScramblingAndReadsBackFromACopy) {
  const std::string path = WriteSample();

  Bytes plain(128, 0);
  const std::string description = "File description should go here!";
  std::copy(description.begin(), description.end(), plain.begin() + 16);
  plain[124] = 3;
  const Bytes payload = {0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c'};
  plain.insert(plain.end(), payload.begin(), payload.end());
  const Bytes digest = Hex("2c23a2cecf96c169ecc9c6f9fbb4c3fd");
  std::copy(digest.begin(), digest.end(), plain.begin());
  for (uint8_t& b : plain) b ^= 0xA7;
  EXPECT_EQ(plain, ReadBytesOf(path));

  // Reading works from an unscrambled copy in the work folder; backslashed paths are accepted for
  // the file and the work folder alike; the version is taken from the file, not from the argument.
  CBinaryStreamer in(Backslashed(path).c_str(), kRead, Backslashed(Work()).c_str(), 99);
  EXPECT_EQ(3u, in.version());
  EXPECT_STREQ("File description should go here!", in.description().c_str());
  EXPECT_EQ(11u, in.payload_size());
  const std::vector<std::string> copies = TempCopies();
  ASSERT_EQ(1u, copies.size());
  EXPECT_EQ(Unscrambled(path), ReadBytesOf(work_.File(copies[0])));
  EXPECT_EQ(1u, in.ReadU32());
  in.Close();
  EXPECT_EQ(std::vector<std::string>{}, TempCopies());
  in.Close();  // a second close does nothing
  CBinaryStreamer other(path.c_str(), 7, Work(), 0);  // any mode but write reads
  EXPECT_EQ(1u, other.ReadU32());
}

TEST_F(BinStreamerTest, EachValueIsWrittenLittleEndianAndReadBack) {
  using Op = std::function<void(CBinaryStreamer&)>;
  // The array writers and readers share one template: two widths cover it.
  const uint16_t u16s[] = {0x0102, 0xFFFF};
  const int32_t i32s[] = {INT32_MIN, 5};
  uint16_t u16_back[2];
  int32_t i32_back[2];
  uint8_t raw_back[3];
  sstring text;
  struct Case {
    const char* name;
    Op write;
    Bytes bytes;
    Op read;
  } cases[] = {
      {"u16", [](CBinaryStreamer& s) { s.WriteU16(0xBEEF); }, {0xEF, 0xBE},
       [](CBinaryStreamer& s) { EXPECT_EQ(0xBEEF, s.ReadU16()); }},
      {"i16", [](CBinaryStreamer& s) { s.WriteI16(-2); }, {0xFE, 0xFF},
       [](CBinaryStreamer& s) { EXPECT_EQ(-2, s.ReadI16()); }},
      {"i32", [](CBinaryStreamer& s) { s.WriteI32(-123456); }, {0xC0, 0x1D, 0xFE, 0xFF},
       [](CBinaryStreamer& s) { EXPECT_EQ(-123456, s.ReadI32()); }},
      {"u8", [](CBinaryStreamer& s) { s.WriteU8(0xFE); }, {0xFE},
       [](CBinaryStreamer& s) { EXPECT_EQ(0xFE, s.ReadU8()); }},
      {"bytes", [](CBinaryStreamer& s) { EXPECT_EQ(3u, s.WriteBytes("\x00\xA7\xFF", 3)); }, {0, 0xA7, 0xFF},
       [&](CBinaryStreamer& s) { EXPECT_EQ(3u, s.ReadBytes(raw_back, 3)); EXPECT_EQ(0xFF, raw_back[2]); }},
      {"u16 array", [&](CBinaryStreamer& s) { s.WriteArrayU16(u16s, 2); }, {0x02, 0x01, 0xFF, 0xFF},
       [&](CBinaryStreamer& s) { EXPECT_EQ(2u, s.ReadArrayU16(u16_back, 2)); EXPECT_EQ(0x0102, u16_back[0]); }},
      {"i32 array", [&](CBinaryStreamer& s) { s.WriteArrayI32(i32s, 2); }, {0, 0, 0, 0x80, 5, 0, 0, 0},
       [&](CBinaryStreamer& s) { EXPECT_EQ(2u, s.ReadArrayI32(i32_back, 2)); EXPECT_EQ(INT32_MIN, i32_back[0]); }},
      {"chars", [](CBinaryStreamer& s) { EXPECT_EQ(5u, s.WriteChars(sstring("chars"))); }, {'c', 'h', 'a', 'r', 's'},
       [&](CBinaryStreamer& s) { EXPECT_EQ(5u, s.ReadString(&text, 5)); EXPECT_STREQ("chars", text.c_str()); }},
      {"format", [](CBinaryStreamer& s) { EXPECT_EQ(6u, s.WriteFormat("n=%d;%s", 42, "x")); },
       {'n', '=', '4', '2', ';', 'x'},
       [&](CBinaryStreamer& s) { EXPECT_EQ(6u, s.ReadString(&text, 6)); EXPECT_STREQ("n=42;x", text.c_str()); }},
      {"sstring", [](CBinaryStreamer& s) { s.WriteSString(sstring("h\xFF")); }, {2, 0, 0, 0, 'h', 0xFF},
       [&](CBinaryStreamer& s) { s.ReadSString(&text); EXPECT_STREQ("h\xFF", text.c_str()); }},
  };
  const std::string path = Data("enc.bin");
  WriteBytesTo(path, Bytes(1000, 0x55));  // writing replaces what was there
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      CBinaryStreamer out(path.c_str(), kWrite, Work(), 1);
      c.write(out);
    }
    const Bytes plain = Unscrambled(path);
    EXPECT_EQ(c.bytes, Bytes(plain.begin() + 128, plain.end()));
    CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
    c.read(in);
    EXPECT_EQ(kCannotRead, RaisedText([&] { in.ReadU8(); }));
  }
}

TEST_F(BinStreamerTest, EmptyPayloadsDigestNothingAndShortReadsRaise) {
  const std::string path = Data("empty.bin");
  { CBinaryStreamer out(path.c_str(), kWrite, Work(), 2); }
  EXPECT_EQ("", Open(path));
  const Bytes header = Unscrambled(path);
  ASSERT_EQ(128u, header.size());
  EXPECT_EQ(Hex("d41d8cd98f00b204e9800998ecf8427e"), Bytes(header.begin(), header.begin() + 16));
  { CBinaryStreamer out(path.c_str(), kWrite, Work(), 2); out.WriteU16(1); }
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  EXPECT_EQ(kCannotRead, RaisedText([&] { in.ReadU32(); }));
}

TEST_F(BinStreamerTest, AChangedPayloadByteFailsTheDigestAtTheFirstDifferingPosition) {
  struct Case {
    size_t offset;  // in the file
    uint8_t plain;  // the byte's new unscrambled value
    int position;   // first digest byte that differs
  } cases[] = {
      {128 + 10, 'b', 0},  // md5 ...abb = d092...
      {15, 0x00, 15},      // the stored digest's last byte
  };
  for (const Case& c : cases) {
    const std::string path = WriteSample();
    Bytes disk = ReadBytesOf(path);
    disk[c.offset] = c.plain ^ 0xA7;
    WriteBytesTo(path, disk);
    tervo_test::CapturingTrace trace;
    const std::string expected = "ASException - MESSAGE: File CRC does not match with its stored CRC! [" + path +
                                 "] position " + std::to_string(c.position);
    EXPECT_EQ(expected, Open(path));
    ASSERT_FALSE(trace.lines().empty());
    EXPECT_NE(std::string::npos, trace.lines().back().find("[ANTISPAM EXCEPTION]"));
  }
}

TEST_F(BinStreamerTest, RefusedCallsRaiseAndLeaveTheStreamInPlace) {
  uint8_t buf[2] = {1, 2};
  const char* no_format = nullptr;
  // Which stream a call is made on: write or read, open or closed.
  enum When { kOnWrite, kOnRead, kClosedWrite, kClosedRead };
  struct Case {
    When when;
    const char* name;
    std::function<void(CBinaryStreamer&)> op;
    const char* message;  // after "ASException - MESSAGE: "
  } cases[] = {
      {kOnWrite, "ReadU16", [](CBinaryStreamer& s) { s.ReadU16(); }, "wrong stream mode: write-only"},
      {kOnWrite, "WriteBytes null", [](CBinaryStreamer& s) { s.WriteBytes(nullptr, 1); }, "invalid argument string"},
      {kOnWrite, "WriteArrayU16 null", [](CBinaryStreamer& s) { s.WriteArrayU16(nullptr, 1); }, "invalid argument string"},
      {kOnWrite, "WriteFormat null", [&](CBinaryStreamer& s) { s.WriteFormat(no_format, 1); }, "invalid format string"},
      {kOnWrite, "WriteBytes 0", [](CBinaryStreamer& s) { s.WriteBytes("x", 0); }, "Cannot write to file"},
      {kOnRead, "WriteU16", [](CBinaryStreamer& s) { s.WriteU16(1); }, "wrong stream mode: read-only"},
      {kOnRead, "ReadBytes null", [](CBinaryStreamer& s) { s.ReadBytes(nullptr, 1); }, "invalid argument string"},
      {kOnRead, "ReadString null", [](CBinaryStreamer& s) { s.ReadString(nullptr, 1); }, "invalid argument string"},
      {kOnRead, "ReadBytes 0", [&](CBinaryStreamer& s) { s.ReadBytes(buf, 0); }, "cannot read from file"},
      // The 16-bit and 32-bit writers word a closed stream with a leading blank.
      {kClosedWrite, "WriteU16", [](CBinaryStreamer& s) { s.WriteU16(1); }, " invalid reference to file"},
      {kClosedWrite, "WriteU8", [](CBinaryStreamer& s) { s.WriteU8(1); }, "invalid reference to file"},
      {kClosedRead, "ReadU32", [](CBinaryStreamer& s) { s.ReadU32(); }, "invalid reference to file"},
  };
  auto run = [&](CBinaryStreamer& stream, When when) {
    for (const Case& c : cases) {
      if (c.when != when) continue;
      SCOPED_TRACE(c.name);
      EXPECT_EQ(std::string("ASException - MESSAGE: ") + c.message, RaisedText([&] { c.op(stream); }));
    }
  };
  const std::string path = WriteSample();
  {
    CBinaryStreamer out(Data("w.bin").c_str(), kWrite, Work(), 1);
    run(out, kOnWrite);
    EXPECT_EQ(0u, out.WriteFormat("%s", ""));
    EXPECT_EQ(0u, out.payload_size());
    out.Close();
    run(out, kClosedWrite);
  }
  CBinaryStreamer in(path.c_str(), kRead, Work(), 0);
  run(in, kOnRead);
  EXPECT_EQ(1u, in.ReadU32());
  in.Close();
  run(in, kClosedRead);
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
  EXPECT_EQ(kCannotRead, RaisedText([&] { in.ReadSString(&text); }));  // length 0
  EXPECT_EQ(kCannotRead, RaisedText([&] { in.ReadSString(&text); }));  // past the end
  EXPECT_STREQ("before", text.c_str());
}

TEST_F(BinStreamerTest, UnopenableFilesRaiseAndLeaveNoCopy) {
  // Files up to 50 MB get as far as their digest check; larger ones are refused.
  constexpr uint64_t kLimit = 52428800;
  const std::string at = Data("at.bin"), over = Data("over.bin");
  std::ofstream(at).close();
  fs::resize_file(at, kLimit);
  EXPECT_EQ(0u, Open(at).rfind("ASException - MESSAGE: File CRC does not match", 0)) << Open(at);
  std::ofstream(over).close();
  fs::resize_file(over, kLimit + 1);
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: file [" + over + "]ize exceeds 50 MB. It is to large [" + over + "]",
            Open(over));

  for (const size_t size : {0, 127}) {
    const std::string path = Data(std::to_string(size) + ".bin");
    WriteBytesTo(path, Bytes(size, 0));
    const std::string text = Open(path);
    EXPECT_EQ(0u, text.rfind("ASException - MESSAGE: File [" + path + "] is too short", 0)) << text;
  }
  fs::create_directory(Data("folder.bin"));
  for (const std::string& path : {Data("missing.bin"), Data("folder.bin")}) {
    EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: Could not access file [" + path + "]", Open(path));
  }

  const std::string sample = WriteSample();
  const std::string missing = work_.File("gone");
  EXPECT_EQ("ASFileException - MESSAGE: Could not create a temp filename in folder \"" + missing + "\"",
            RaisedText([&] { CBinaryStreamer in(sample.c_str(), kRead, missing.c_str(), 0); }));
  const std::string nowhere = Data("no/such/folder.bin");
  EXPECT_EQ("ASFileException - CODE: -700 MESSAGE: Could not open file [" + nowhere + "] for write",
            RaisedText([&] { CBinaryStreamer out(nowhere.c_str(), kWrite, Work(), 1); }));
  EXPECT_EQ("ASBadPtrException - MESSAGE: invalid file path",
            RaisedText([&] { CBinaryStreamer out(nullptr, kWrite, Work(), 1); }));
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

  const std::string expected = "ASBadPtrException - MESSAGE: Invalid parameters in ComputeCRC";
  EXPECT_EQ(expected, RaisedText([&] { CBinaryStreamer::ComputeCRC(nullptr, 3, digest); }));
  EXPECT_EQ(expected, RaisedText([&] { CBinaryStreamer::ComputeCRC("abc", 3, nullptr); }));
}

}  // namespace
