// The tervo command, run as a user runs it: the built binary in a child
// process, its output and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/data_files.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using tervo_test::CommandResult;
using tervo_test::RunTervo;
using tervo_test::TempDir;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A sound container whose payload is only a count of records that never follow.
void WriteCutPayload(const std::string& path, uint32_t count) {
  tervo_test::WriteRawDataFile(path, 1, &count, sizeof count);
}

// The dump's output without its header comment lines.
std::string Body(const std::string& dump) {
  std::string body;
  for (const std::string& line : tervo_test::SplitLines(dump)) {
    if (line.rfind("# ", 0) != 0) body += line + "\n";
  }
  return body;
}

// The "qxas" temporary copies and ".partial" outputs left in `dir`.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("qxas", 0) == 0 || Has(name, ".partial")) found.push_back(name);
  }
  return found;
}

const char kWordsSource[] =
    "category profanity 2 5 12 0\n"
    "damn 2\n"
    "shit 4\n"
    "\n"
    "category empty 0 0 7 -3\n"
    "\n"
    "category bullying 3 6 15 9\n"
    "idiot 2\n"
    "loser 3\n";
const char kMarkovianSource[] =
    "class grooming 10\n"
    "4 secret\n"
    "6 our secret\n"
    "6 don tell\n"
    "7 turn on your webcam\n"
    "\n"
    "class bullying 8\n"
    "5 go and die\n";

TEST(TervoCommand, CompiledSourcesDumpBack) {
  const struct {
    const char* kind;
    const char* source;
    const char* output;
    const char* summary;
    std::vector<std::string> dumped;  // empty: the body is the source again
  } cases[] = {
      {"words", kWordsSource, "imwords.dat", "3 categories, 4 words", {}},
      {"markovian", kMarkovianSource, "im_markovian.dat", "2 classes, 5 sequences", {}},
      {"blacklist",
       "# blocked\nstranger_danger88\nstranger_danger88\n[subdomains]\nspam.example.com\n"
       "[domains]\nexample.net\n",
       "imblacklist.dat",
       "1 urls, 1 subdomains, 1 domains (1 repeats left out)",
       // MD5("example.net") begins 28 bf 0e ba 66 31 b5 56: the key read little-endian.
       {"# urls: 1, subdomains: 1, domains: 1\n", "cannot be recovered",
        "[domains]\n56b53166ba0ebf28\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    TempDir dir;
    WriteText(dir.File("list.txt"), c.source);
    CommandResult compile =
        RunTervo(std::string("compile ") + c.kind + " list.txt -o " + c.output, dir.path());
    ASSERT_EQ(0, compile.status) << compile.out;
    EXPECT_TRUE(Has(compile.out, c.summary)) << compile.out;
    // By name or by --as: the same decoding; a name it does not know prints the header only.
    fs::copy_file(dir.File(c.output), dir.File("other.dat"));
    for (const std::string& args : {std::string(c.output), "other.dat --as " + std::string(c.kind)}) {
      CommandResult dump = RunTervo("dump " + args + " --work-dir .", dir.path());
      ASSERT_EQ(0, dump.status) << dump.out;
      if (c.dumped.empty()) { EXPECT_EQ(c.source, Body(dump.out)); }
      for (const std::string& part : c.dumped) EXPECT_TRUE(Has(dump.out, part)) << dump.out;
    }
    EXPECT_EQ("", Body(RunTervo("dump other.dat --work-dir .", dir.path()).out));
  }
}

TEST(TervoCommand, DumpPrintsTheHeaderAndRefusesADamagedFile) {
  TempDir dir;
  const std::string path = dir.File("sample.dat");
  tervo_test::WriteDataFile(path, 3, [](ascommon::IStreamer* out) {
    out->WriteU32(1);
    out->WriteSString(ascommon::sstring("abc"));
  });
  CommandResult run = RunTervo("dump sample.dat --work-dir .", dir.path());
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_EQ(
      "# file: sample.dat\n"
      "# version: 3\n"
      "# description: File description should go here!\n"
      "# header words: 0 0\n"
      // MD5 of 01 00 00 00 03 00 00 00 61 62 63.
      "# digest: 2c23a2cecf96c169ecc9c6f9fbb4c3fd (matches the payload)\n"
      "# payload: 11 bytes\n",
      run.out);
  std::string bytes = tervo_test::ReadFile(path);
  WriteText(path, bytes.replace(130, 1, 1, static_cast<char>(bytes[130] ^ 0x01)));
  run = RunTervo("dump sample.dat --work-dir .", dir.path());
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Has(run.out, "File CRC does not match with its stored CRC! [sample.dat] position"))
      << run.out;
  // A payload that is not what its format says; a file above what readers open.
  for (const char* format : {"words", "blacklist", "markovian"}) {
    WriteCutPayload(dir.File("cut.dat"), 3);
    run = RunTervo(std::string("dump cut.dat --work-dir . --as ") + format, dir.path());
    EXPECT_EQ(1, run.status) << format << "\n" << run.out;
    EXPECT_TRUE(Has(run.out, "tervo dump: cut.dat: ")) << run.out;
    EXPECT_TRUE(Has(run.out, "# payload: 4 bytes")) << run.out;  // the sound header
  }
  fs::resize_file(dir.File("cut.dat"), 60u << 20);  // sparse: costs no disk
  run = RunTervo("dump cut.dat --work-dir .", dir.path());
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Has(run.out, "exceeds 50 MB")) << run.out;
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir.path()));
}

// Each case writes `source` (when given) to src.txt and runs `args`: the exit
// status, a part of the output, and no out.dat or leftovers.
TEST(TervoCommand, BadArgumentsAndSourcesAnswerTheirStatusAndMessage) {
  constexpr int kNotZero = -2;
  const std::string words = "compile words src.txt -o out.dat";
  const std::string markovian = "compile markovian src.txt -o out.dat";
  const struct {
    std::string source;
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"", "--version", 0, "tervo 2.13.1.14950\n"},
      {"", "--plugin /no/such/tervo.mdl --version", 1, "/no/such/tervo.mdl"},
      {"", "--help", 0, "Usage:"},
      {"", "", 0, "dump"},
      {"", "no-such-command", kNotZero, ""},
      {"", "dump absent.dat", 1, "Could not access file [absent.dat]"},
      // A folder is refused before it is opened.
      {"", "classify .", 1, "cannot open ."},
      {"x\n", "classify src.txt --trace missing", kNotZero, ""},
      {"", "compile words . -o out.dat", 1, "cannot read ."},
      {std::string("category a 1 2 3 4\nab\0cd 1\n", 26), words, 1, "src.txt:2: a NUL byte"},
      {"ok\n[hosts]\nx\n", "compile blacklist src.txt -o out.dat", 1,
       "src.txt:2: unknown section [hosts]"},
      {"damn 2\n", words, 1, "src.txt:1: a word before the first category line"},
      {"category a 1 2 3\n", words, 1, "src.txt:1: expected: category NAME CHILD TEEN ADULT SPARE"},
      {"category a 1 2 x 4\n", words, 1, "src.txt:1: thresholds and spare value must be"},
      {"# intro\ncategory a 1 2 3 4\ndamn 99999999999\n", words, 1, "src.txt:3: the weight must be"},
      {"category a 1 2 3 4\nDamn 2\n", words, 1, "src.txt:2: words are matched in lower case"},
      {"category a 1 2 3 4\nno 2\n", words, 1, "src.txt:2: words shorter than three bytes"},
      {"category a 1 2 3 4\nwell-done 2\n", words, 1, "src.txt:2: a word with a delimiter"},
      {"category a 1 2 3 4\ndamn 2\ndamn 3\n", words, 1,
       "src.txt:3: \"damn\" is already in category a"},
      {"4 secret\n", markovian, 1, "src.txt:1: a sequence before the first class line"},
      {"class a\n", markovian, 1, "src.txt:1: expected: class NAME THRESHOLD"},
      {"class a 1\nx secret\n", markovian, 1, "src.txt:2: the value must be"},
      {"class a 1\n4\n", markovian, 1, "src.txt:2: expected: VALUE WORD"},
      {"class a 1\n4 Secret\n", markovian, 1, "src.txt:2: words are matched in lower case"},
      {"class a 1\n4 a secret\n", markovian, 1, "src.txt:2: one-byte words"},
      {"class a 1\n4 don't\n", markovian, 1, "src.txt:2: a word with a separator"},
  };
  for (const auto& [source, args, status, message] : cases) {
    SCOPED_TRACE(args + "\n" + source);
    TempDir dir;
    if (!source.empty()) WriteText(dir.File("src.txt"), source);
    CommandResult run = RunTervo(args, dir.path());
    EXPECT_TRUE(status == kNotZero ? run.status != 0 : run.status == status) << run.status;
    EXPECT_TRUE(Has(run.out, message)) << run.out;
    EXPECT_FALSE(fs::exists(dir.File("out.dat")));
    EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir.path()));
  }
}

// A folder with the words and Markovian data compiled from the sources above.
class DataDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteText(dir_.File("words.txt"), kWordsSource);
    ASSERT_EQ(0, RunTervo("compile words words.txt -o imwords.dat", dir_.path()).status);
    WriteText(dir_.File("model.txt"), kMarkovianSource);
    ASSERT_EQ(0, RunTervo("compile markovian model.txt -o im_markovian.dat", dir_.path()).status);
  }
  // stdout only: the JSON lines.
  std::vector<std::string> Classify(const std::string& args) {
    CommandResult run = RunTervo("classify --data-dir . --temp-dir . " + args, dir_.path(), true);
    EXPECT_EQ(0, run.status) << run.out;
    return tervo_test::SplitLines(run.out);
  }
  TempDir dir_;
};

// A plain-text run with two ages and a JSONL run, messages of any bytes. The
// blacklist marks the user named by --user or by the message, in its own case.
TEST_F(DataDirTest, PrintsValidJsonLinesWithTheVerdictPerMessageAndAge) {
  WriteText(dir_.File("list.txt"), "stranger_danger88\n");
  ASSERT_EQ(0, RunTervo("compile blacklist list.txt -o imblacklist.dat", dir_.path()).status);
  const char text[] = "hello there\nyou damn idiot loser\nDAMN!\n\n\xff\xfe damn idiot loser\n"
                      "\xc3\x28 x\nnul\0inside idiot loser\n\r\n";
  WriteText(dir_.File("chat.txt"), std::string(text, sizeof text - 1));
  WriteText(dir_.File("chat.jsonl"),
            "{\"text\":\"you idiot loser\",\"age\":\"teen\"}\n"
            "\n"
            "{\"text\":\"damn damn shit\",\"user\":\"stranger_danger88\"}\n"
            "not json\n"
            "{\"text\":\"x\",\"age\":\"grandpa\"}\n"
            "{\"text\":\"abc\xff\xfe def\"}\n{\"text\":\"\"}\n\xff{\n{\"text\":\"idiot loser\"}\n");
  std::vector<std::string> lines =
      Classify("--age child chat.txt --age adult --user Stranger_danger88");  // the file after an --age
  ASSERT_EQ(16u, lines.size());
  for (const std::string& line : Classify("chat.jsonl --jsonl")) lines.push_back(line);
  ASSERT_EQ(24u, lines.size());
  const std::string status =
      ",\"status\":{\"Im Words Filter\":0,\"Im Blacklist Filter\":0,\"Im Markovian Filter\":0},";
  const std::pair<size_t, std::string> expected[] = {
      {0, "{\"line\":1,\"age\":\"child\",\"keys\":{\"41010\":-1}" + status + "\"flagged\":[]}"},
      // profanity 2 (not above the child threshold 2), bullying 5 (above 3).
      {2, "{\"line\":2,\"age\":\"child\",\"keys\":{\"41010\":5}" + status +
              "\"flagged\":[\"Im Words Filter\"]}"},
      {3, "\"age\":\"adult\",\"keys\":{\"41010\":-1"},
      {4, "\"line\":3,\"age\":\"child\",\"keys\":{\"41010\":-1"},
      // Empty messages are classified; bytes that are not UTF-8 do not hide the
      // words around them.
      {6, "\"line\":4,\"age\":\"child\",\"keys\":{\"41010\":-1"},
      {8, "\"line\":5,\"age\":\"child\",\"keys\":{\"41010\":5}"},
      {10, "\"line\":6"}, {12, "\"line\":7"}, {14, "\"line\":8"},
      {16, "\"line\":1,\"age\":\"teen\",\"keys\":{\"41010\":-1"},
      {17, "\"line\":3,\"age\":\"child\",\"keys\":{\"41010\":8,\"41011\":1}"},
      {18, "\"line\":4,\"error\""}, {19, "unknown age"}, {20, "\"line\":6,\"error\""},
      {21, "\"line\":7,\"age\":\"child\",\"keys\":{\"41010\":-1}"}, {22, "\"line\":8,\"error\""},
      {23, "\"line\":9,\"age\":\"child\",\"keys\":{\"41010\":5}"},
  };
  for (const auto& [at, part] : expected) EXPECT_TRUE(Has(lines[at], part)) << lines[at];
  for (const std::string& line : lines) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
}

TEST_F(DataDirTest, ClassifyStopsOnADataFileThatIsThereButCannotBeLoaded) {
  const struct {
    const char* file;
    uint32_t count;  // of the cut payload; 0: bytes that are no container
    const char* reason;
  } cases[] = {
      // The container checks themselves are the streamer's; one stands for all.
      {"imwords.dat", 0, "CRC does not match"},
      // The filter refuses the payload; the blacklist filter runs on without it and
      // the command reads it itself.
      {"imwords.dat", 9, "the data inside the file is damaged"},
      {"imblacklist.dat", 2, "the data inside the file is damaged"},
      {"imblacklist.dat", 3, "keys of 3 digest words, not 2 (the data inside the file is damaged)"},
  };
  WriteText(dir_.File("chat.txt"), "you damn idiot loser\n");
  const std::string classify = "classify chat.txt --data-dir . --temp-dir . --user bob";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    SetUp();
    const std::string path = dir_.File(c.file);
    c.count == 0 ? WriteText(path, std::string(4000, '\x5a')) : WriteCutPayload(path, c.count);
    CommandResult run = RunTervo(classify, dir_.path());
    EXPECT_EQ(1, run.status) << run.out;
    EXPECT_TRUE(Has(run.out, std::string("./") + c.file + ": cannot be loaded: ")) << run.out;
    EXPECT_TRUE(Has(run.out, c.reason)) << run.out;
    EXPECT_FALSE(Has(run.out, "\"line\"")) << "classified anyway: " << run.out;
    EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir_.path()));
    fs::remove_all(path);
  }
  SetUp();  // absent and empty files only leave their filter out
  fs::remove(dir_.File("im_markovian.dat"));
  CommandResult run = RunTervo(classify, dir_.path());
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_TRUE(Has(run.out, "Im Markovian Filter: not used")) << run.out;
  run = RunTervo(classify, dir_.path());  // the filter left an empty file behind
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_EQ(0u, fs::file_size(dir_.File("im_markovian.dat")));
}

TEST_F(DataDirTest, CompileRefusesAListWhoseFileNoReaderWouldOpen) {
  {
    std::ofstream big(dir_.File("big.txt"), std::ios::binary);
    big << "category big 1 2 3 4\n";
    for (int i = 0; i < 52000; ++i) big << "w" << i << std::string(1000, 'x') << " 1\n";
  }
  CommandResult big = RunTervo("compile words big.txt -o imwords.dat", dir_.path());
  EXPECT_EQ(1, big.status);
  EXPECT_TRUE(Has(big.out, "readers refuse files above 50 MB")) << big.out;
  EXPECT_EQ(0, RunTervo("dump imwords.dat --as words --work-dir .", dir_.path()).status);  // untouched
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir_.path()));
}

// The sample data built next to the program is the default data folder.
TEST(TervoCommand, ExampleChatGivesTheSameVerdictsOnAnyThreadsAndWithoutThePrefilter) {
  TempDir dir;
  const std::string chat = std::string(TERVO_SOURCE_DIR) + "/data/sample/chat.txt";
  const std::string args = "classify '" + chat + "' --age child --age adult --temp-dir . --threads ";
  CommandResult one = RunTervo(args + "1", dir.path(), true);
  EXPECT_EQ(0, one.status);
  EXPECT_EQ(one.out, RunTervo(args + "2", dir.path(), true).out);
  EXPECT_EQ(one.out, RunTervo(args + "4", dir.path(), true).out);
  {
    tervo_test::ScopedEnv off("TERVO_PREFILTER", "0");  // every signature runs
    EXPECT_EQ(one.out, RunTervo(args + "1", dir.path(), true).out);
  }
  const std::vector<std::string> lines = tervo_test::SplitLines(one.out);  // per message and age
  ASSERT_EQ(2 * tervo_test::SplitLines(tervo_test::ReadFile(chat)).size(), lines.size());
  // The sample lists and rules flag something for a child, and fewer messages for an adult.
  int flagged[2] = {0, 0}, marked[2] = {0, 0};
  for (const std::string& line : lines) {
    const bool adult = Has(line, "\"age\":\"adult\"");
    flagged[adult] += Has(line, "\"flagged\":[\"Im Words Filter\"]");
    marked[adult] += Has(line, "\"41013\":1");
  }
  EXPECT_GT(flagged[0], 0);
  EXPECT_LT(flagged[1], flagged[0]);
  EXPECT_GT(marked[0], 0);
  EXPECT_LT(marked[1], marked[0]);
}

// The plug-in's log goes where --trace or AS_TRACER_PATH names, and nowhere
// without them.
TEST(TervoCommand, WritesThePluginLogOnlyWhereAsked) {
  TempDir dir;
  WriteText(dir.File("chat.txt"), "hello\nyou damn idiot\n");
  fs::create_directory(dir.File("asked"));
  const std::string asked = dir.File("asked");
  const struct {
    const char* env;  // AS_TRACER_PATH
    std::string args;
    bool logged;  // into asked/as2_debug.log
  } cases[] = {
      {nullptr, "classify chat.txt", false},
      {nullptr, "--version", false},
      {nullptr, "classify chat.txt --trace asked", true},
      {asked.c_str(), "classify chat.txt", true},
      {"/no/such/folder", "--trace asked classify chat.txt", true},
  };
  for (const auto& c : cases) {
    tervo_test::ScopedEnv env("AS_TRACER_PATH", c.env);
    CommandResult run = RunTervo(c.args, dir.path());
    EXPECT_EQ(0, run.status) << c.args << "\n" << run.out;
    const std::string log = dir.File("asked/as2_debug.log");
    EXPECT_EQ(c.logged, fs::exists(log)) << c.args;
    fs::remove(log);
    EXPECT_FALSE(fs::exists(dir.File("as2_debug.log"))) << c.args;
  }
}

}  // namespace
