// The tervo command, run as a user runs it: the built binary in a child
// process, its output and exit status.
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CBinaryStreamer;
using tervo_test::TempDir;

struct CommandResult {
  int status;
  std::string out;  // stdout and stderr together
};

// Runs the built tervo with `args` (shell words) in `dir`; `out` gets stdout,
// and stderr too unless `stdout_only`.
CommandResult Tervo(const std::string& args, const std::string& dir, bool stdout_only = false) {
  std::string command = "cd '" + dir + "' && '" + tervo_test::ProgramFolder() + "/tervo' " + args +
                        (stdout_only ? " 2>/dev/null" : " 2>&1");
  CommandResult run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

void WriteSample(const std::string& path, const std::string& work) {
  CBinaryStreamer writer(path.c_str(), CBinaryStreamer::kModeWrite, work.c_str(), 3);
  writer.WriteU32(1);
  writer.WriteSString(ascommon::sstring("abc"));
}

TEST(TervoCommand, VersionComesFromThePlugin) {
  TempDir dir;
  CommandResult run = Tervo("--version", dir.path());
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("tervo 2.13.1.14950\n", run.out);

  CommandResult missing = Tervo("--plugin /no/such/tervo.mdl --version", dir.path());
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.out.find("/no/such/tervo.mdl")) << missing.out;
}

TEST(TervoCommand, HelpListsTheSubcommands) {
  TempDir dir;
  for (const char* args : {"--help", ""}) {
    CommandResult run = Tervo(args, dir.path());
    EXPECT_EQ(0, run.status) << args;
    EXPECT_NE(std::string::npos, run.out.find("Usage:")) << args;
    EXPECT_NE(std::string::npos, run.out.find("dump")) << args;
  }
  CommandResult bad = Tervo("no-such-command", dir.path());
  EXPECT_NE(0, bad.status);
}

TEST(TervoCommand, DumpPrintsTheHeaderOfAGoodFile) {
  TempDir dir;
  WriteSample(dir.File("sample.dat"), dir.path());
  CommandResult run = Tervo("dump sample.dat --work-dir .", dir.path());
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
}

TEST(TervoCommand, DumpFailsOnADamagedFileAndLeavesNoTemporaryCopy) {
  TempDir dir;
  const std::string path = dir.File("damaged.dat");
  WriteSample(path, dir.path());
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(130);
    char byte = 0;
    file.read(&byte, 1);
    byte ^= 0x01;
    file.seekp(130);
    file.write(&byte, 1);
  }
  CommandResult run = Tervo("dump damaged.dat --work-dir .", dir.path());
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos,
            run.out.find("File CRC does not match with its stored CRC! [damaged.dat] position"))
      << run.out;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_NE(0u, entry.path().filename().string().rfind("qxas", 0)) << entry.path();
  }

  CommandResult missing = Tervo("dump absent.dat", dir.path());
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.out.find("Could not access file [absent.dat]"));
}

}  // namespace

namespace {

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

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The dump's output without its header comment lines.
std::string Body(const std::string& dump) {
  std::string body;
  for (const std::string& line : tervo_test::SplitLines(dump)) {
    if (line.rfind("# ", 0) != 0) body += line + "\n";
  }
  return body;
}

TEST(TervoCommand, CompiledWordsDumpBackToTheirSource) {
  TempDir dir;
  WriteText(dir.File("words.txt"), kWordsSource);
  CommandResult compile = Tervo("compile words words.txt -o imwords.dat", dir.path());
  ASSERT_EQ(0, compile.status) << compile.out;
  EXPECT_NE(std::string::npos, compile.out.find("3 categories, 4 words")) << compile.out;

  CommandResult dump = Tervo("dump imwords.dat --work-dir .", dir.path());
  ASSERT_EQ(0, dump.status) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("# version: 1\n")) << dump.out;
  EXPECT_EQ(kWordsSource, Body(dump.out));

  // By name or by --as: the same decoding; --as raw prints the header only.
  std::filesystem::copy_file(dir.File("imwords.dat"), dir.File("other.dat"));
  EXPECT_EQ(kWordsSource, Body(Tervo("dump other.dat --as words --work-dir .", dir.path()).out));
  EXPECT_EQ("", Body(Tervo("dump other.dat --work-dir .", dir.path()).out));
}

TEST(TervoCommand, BadWordsSourceNamesTheLineAndWritesNothing) {
  struct Case {
    const char* source;
    const char* message;
  } cases[] = {
      {"damn 2\n", "words.txt:1: a word before the first category line"},
      {"category a 1 2 3\n", "words.txt:1: expected: category NAME CHILD TEEN ADULT SPARE"},
      {"category a 1 2 x 4\n", "words.txt:1: thresholds and spare value must be"},
      {"# intro\ncategory a 1 2 3 4\ndamn two\n", "words.txt:3: the weight must be"},
      {"category a 1 2 3 4\nDamn 2\n", "words.txt:2: words are matched in lower case"},
      {"category a 1 2 3 4\nno 2\n", "words.txt:2: words shorter than three bytes"},
      {"category a 1 2 3 4\nwell-done 2\n", "words.txt:2: a word with a delimiter"},
      {"category a 1 2 3 4\ndamn 2\ndamn 3\n", "words.txt:3: \"damn\" is already in category a"},
      {"category a 1 2 3 4\ndamn 99999999999\n", "words.txt:2: the weight must be"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteText(dir.File("words.txt"), c.source);
    CommandResult run = Tervo("compile words words.txt -o imwords.dat", dir.path());
    EXPECT_EQ(1, run.status) << c.source;
    EXPECT_NE(std::string::npos, run.out.find(c.message)) << c.source << "\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("imwords.dat"))) << c.source;
    EXPECT_FALSE(std::filesystem::exists(dir.File("imwords.dat.partial"))) << c.source;
  }
}

class ClassifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteText(dir_.File("words.txt"), kWordsSource);
    ASSERT_EQ(0, Tervo("compile words words.txt -o imwords.dat", dir_.path()).status);
  }

  // stdout only: the JSON lines.
  std::vector<std::string> Classify(const std::string& args) {
    CommandResult run = Tervo("classify --data-dir . --temp-dir . " + args, dir_.path(), true);
    EXPECT_EQ(0, run.status) << run.out;
    return tervo_test::SplitLines(run.out);
  }

  TempDir dir_;
};

TEST_F(ClassifyTest, PrintsTheVerdictKeysAndStatusPerMessageAndAge) {
  WriteText(dir_.File("chat.txt"), "hello there\nyou damn idiot loser\nDAMN!\n");
  std::vector<std::string> lines = Classify("chat.txt --age child --age adult");
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ(
      "{\"line\":1,\"age\":\"child\",\"keys\":{\"41010\":-1},"
      "\"status\":{\"Im Words Filter\":0},\"flagged\":[]}",
      lines[0]);
  // profanity 2 (not above the child threshold 2), bullying 5 (above 3).
  EXPECT_EQ(
      "{\"line\":2,\"age\":\"child\",\"keys\":{\"41010\":5},"
      "\"status\":{\"Im Words Filter\":0},\"flagged\":[\"Im Words Filter\"]}",
      lines[2]);
  EXPECT_NE(std::string::npos, lines[3].find("\"age\":\"adult\",\"keys\":{\"41010\":-1}"));
  EXPECT_NE(std::string::npos, lines[4].find("\"line\":3,\"age\":\"child\",\"keys\":{\"41010\":-1}"));
}

TEST_F(ClassifyTest, JsonLinesCarryTheirOwnAgeAndBadLinesAreReported) {
  WriteText(dir_.File("chat.jsonl"),
            "{\"text\":\"you idiot loser\",\"age\":\"teen\",\"user\":\"bob\"}\n"
            "\n"
            "{\"text\":\"damn damn shit\"}\n"
            "not json\n"
            "{\"text\":\"x\",\"age\":\"grandpa\"}\n");
  std::vector<std::string> lines = Classify("chat.jsonl --jsonl");
  ASSERT_EQ(4u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("\"line\":1,\"age\":\"teen\",\"keys\":{\"41010\":-1}"))
      << lines[0];
  EXPECT_NE(std::string::npos, lines[1].find("\"line\":3,\"age\":\"child\",\"keys\":{\"41010\":8}"))
      << lines[1];
  EXPECT_NE(std::string::npos, lines[2].find("\"line\":4,\"error\""));
  EXPECT_NE(std::string::npos, lines[3].find("unknown age"));
}

TEST_F(ClassifyTest, ThreadsKeepInputOrderAndVerdicts) {
  std::string chat;
  for (int i = 0; i < 300; ++i) {
    chat += (i % 3 == 0 ? "you damn idiot loser " : i % 3 == 1 ? "hello " : "shit shit ") +
            std::to_string(i) + "\n";
  }
  WriteText(dir_.File("chat.txt"), chat);
  std::vector<std::string> one = Classify("chat.txt --threads 1 --age teen --age child");
  std::vector<std::string> four = Classify("chat.txt --threads 4 --age teen --age child");
  ASSERT_EQ(600u, one.size());
  EXPECT_EQ(one, four);
}

}  // namespace

namespace {

TEST(TervoCommand, ExampleChatGivesTheSameVerdictsOnOneAndTwoThreads) {
  TempDir dir;
  const std::string chat = std::string(TERVO_SOURCE_DIR) + "/data/sample/chat.txt";
  auto classify = [&](const char* threads) {
    // The default data folder: the sample data built next to the program.
    CommandResult run = Tervo("classify '" + chat + "' --age child --age teen --age adult " +
                                  "--temp-dir . --threads " + threads,
                              dir.path(), true);
    EXPECT_EQ(0, run.status);
    return tervo_test::SplitLines(run.out);
  };
  std::vector<std::string> one = classify("1");
  std::vector<std::string> two = classify("2");
  ASSERT_EQ(60u, one.size());
  EXPECT_EQ(one, two);
  // The sample lists flag something for a child, and fewer messages for an adult.
  int child = 0, adult = 0;
  for (const std::string& line : one) {
    const bool flagged = line.find("\"flagged\":[\"Im Words Filter\"]") != std::string::npos;
    child += flagged && line.find("\"age\":\"child\"") != std::string::npos;
    adult += flagged && line.find("\"age\":\"adult\"") != std::string::npos;
  }
  EXPECT_GT(child, 0);
  EXPECT_LT(adult, child);
}

}  // namespace

namespace {

TEST(TervoCommand, BlacklistCompilesDumpsAsKeysAndMarksListedUsers) {
  TempDir dir;
  WriteText(dir.File("list.txt"),
            "# blocked\nstranger_danger88\nstranger_danger88\n[subdomains]\nspam.example.com\n"
            "[domains]\nexample.net\n");
  CommandResult compile = Tervo("compile blacklist list.txt -o imblacklist.dat", dir.path());
  ASSERT_EQ(0, compile.status) << compile.out;
  EXPECT_NE(std::string::npos,
            compile.out.find("1 urls, 1 subdomains, 1 domains (1 repeats left out)"))
      << compile.out;

  CommandResult dump = Tervo("dump imblacklist.dat --work-dir .", dir.path());
  ASSERT_EQ(0, dump.status) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("# urls: 1, subdomains: 1, domains: 1\n"));
  EXPECT_NE(std::string::npos, dump.out.find("cannot be recovered"));
  // MD5("example.net") begins 28 bf 0e ba 66 31 b5 56: the key read little-endian.
  EXPECT_NE(std::string::npos, dump.out.find("[domains]\n56b53166ba0ebf28\n")) << dump.out;

  WriteText(dir.File("chat.txt"), "hello\n");
  for (const char* user : {"stranger_danger88", "Stranger_danger88"}) {
    CommandResult run = Tervo(std::string("classify chat.txt --data-dir . --temp-dir . --user ") +
                                  user,
                              dir.path(), true);
    ASSERT_EQ(0, run.status);
    const bool listed = user[0] == 's';
    EXPECT_EQ(listed, run.out.find("\"41011\":1") != std::string::npos) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("\"Im Blacklist Filter\":0")) << run.out;
  }

  WriteText(dir.File("bad.txt"), "ok\n[hosts]\nx\n");
  CommandResult bad = Tervo("compile blacklist bad.txt -o bad.dat", dir.path());
  EXPECT_EQ(1, bad.status);
  EXPECT_NE(std::string::npos, bad.out.find("bad.txt:2: unknown section [hosts]")) << bad.out;
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad.dat")));
}

}  // namespace

namespace {

const char kMarkovianSource[] =
    "class grooming 10\n"
    "4 secret\n"
    "6 our secret\n"
    "6 don tell\n"
    "7 turn on your webcam\n"
    "\n"
    "class bullying 8\n"
    "5 go and die\n";

TEST(TervoCommand, CompiledMarkovianModelDumpsBackToItsSource) {
  TempDir dir;
  WriteText(dir.File("model.txt"), kMarkovianSource);
  CommandResult compile = Tervo("compile markovian model.txt -o im_markovian.dat", dir.path());
  ASSERT_EQ(0, compile.status) << compile.out;
  EXPECT_NE(std::string::npos, compile.out.find("2 classes, 5 sequences")) << compile.out;
  CommandResult dump = Tervo("dump im_markovian.dat --work-dir .", dir.path());
  ASSERT_EQ(0, dump.status) << dump.out;
  EXPECT_EQ(kMarkovianSource, Body(dump.out));

  struct Case {
    const char* source;
    const char* message;
  } cases[] = {
      {"4 secret\n", "m.txt:1: a sequence before the first class line"},
      {"class a\n", "m.txt:1: expected: class NAME THRESHOLD"},
      {"class a 1\nx secret\n", "m.txt:2: the value must be"},
      {"class a 1\n4\n", "m.txt:2: expected: VALUE WORD"},
      {"class a 1\n4 Secret\n", "m.txt:2: words are matched in lower case"},
      {"class a 1\n4 a secret\n", "m.txt:2: one-byte words"},
      {"class a 1\n4 don't\n", "m.txt:2: a word with a separator"},
  };
  for (const Case& c : cases) {
    WriteText(dir.File("m.txt"), c.source);
    CommandResult run = Tervo("compile markovian m.txt -o m.dat", dir.path());
    EXPECT_EQ(1, run.status) << c.source;
    EXPECT_NE(std::string::npos, run.out.find(c.message)) << c.source << "\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("m.dat"))) << c.source;
  }
}

}  // namespace

namespace {

// Whether `dir` holds a "qxas" temporary copy or a ".partial" output.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("qxas", 0) == 0 || name.find(".partial") != std::string::npos) {
      found.push_back(name);
    }
  }
  return found;
}

// A container whose payload is only `count`, a count of records that never
// follow: the container is sound, what is inside is not.
void WriteCutPayload(const std::string& path, const std::string& work, uint32_t count) {
  CBinaryStreamer writer(path.c_str(), CBinaryStreamer::kModeWrite, work.c_str(), 1);
  writer.WriteU32(count);
}

class BadDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteText(dir_.File("words.txt"), kWordsSource);
    ASSERT_EQ(0, Tervo("compile words words.txt -o imwords.dat", dir_.path()).status);
    WriteText(dir_.File("model.txt"), kMarkovianSource);
    ASSERT_EQ(0, Tervo("compile markovian model.txt -o im_markovian.dat", dir_.path()).status);
    WriteText(dir_.File("chat.txt"), "you damn idiot loser\n");
  }

  CommandResult Classify() {
    return Tervo("classify chat.txt --data-dir . --temp-dir . --user bob", dir_.path());
  }

  TempDir dir_;
};

TEST_F(BadDataTest, ClassifyStopsOnADataFileThatIsThereButCannotBeLoaded) {
  struct Case {
    const char* file;
    std::function<void(const std::string&)> damage;
    const char* reason;
  };
  const std::string work = dir_.path();
  const Case cases[] = {
      {"imwords.dat",
       [](const std::string& p) { std::filesystem::resize_file(p, 100); },
       "too short for its header"},
      {"imwords.dat",
       [](const std::string& p) { WriteText(p, std::string(4000, '\x5a')); },
       "CRC does not match"},
      // Sparse, so it costs no disk.
      {"imwords.dat",
       [](const std::string& p) { std::filesystem::resize_file(p, 60u << 20); },
       "exceeds 50 MB"},
      {"imwords.dat",
       [](const std::string& p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
       },
       "Could not access file"},
      {"imwords.dat", [&](const std::string& p) { WriteCutPayload(p, work, 9); },
       "the data inside the file is damaged"},
      {"im_markovian.dat", [&](const std::string& p) { WriteCutPayload(p, work, 9); },
       "the data inside the file is damaged"},
      {"imblacklist.dat", [&](const std::string& p) { WriteCutPayload(p, work, 2); },
       "the data inside the file is damaged"},
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string path = dir_.File(c.file);
    if (!std::filesystem::exists(path)) WriteText(path, "");
    c.damage(path);
    CommandResult run = Classify();
    EXPECT_EQ(1, run.status) << c.file << " " << c.reason << "\n" << run.out;
    EXPECT_NE(std::string::npos, run.out.find(std::string("./") + c.file + ": cannot be loaded: "))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find(c.reason)) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("\"line\"")) << "classified anyway: " << run.out;
    EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir_.path())) << c.reason;
    std::filesystem::remove_all(path);
  }
  // Absent and empty files only leave their filter out.
  SetUp();
  std::filesystem::remove(dir_.File("im_markovian.dat"));
  CommandResult run = Classify();
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Im Markovian Filter: not used")) << run.out;
  run = Classify();  // the filter left an empty file behind
  EXPECT_EQ(0, run.status) << run.out;
  EXPECT_EQ(0u, std::filesystem::file_size(dir_.File("im_markovian.dat")));
}

TEST_F(BadDataTest, ClassifyTakesAnyMessageBytesAndWritesValidJsonLines) {
  WriteText(dir_.File("bytes.txt"),
            std::string("\n\xff\xfe damn idiot loser\n\xc3\x28 x\nnul\0inside idiot loser\n\r\n",
                        50));
  CommandResult plain = Tervo("classify bytes.txt --data-dir . --temp-dir .", dir_.path(), true);
  EXPECT_EQ(0, plain.status);
  WriteText(dir_.File("bytes.jsonl"),
            "{\"text\":\"abc\xff\xfe def\"}\n{\"text\":\"\"}\n\xff{\n{\"text\":\"idiot loser\"}\n");
  CommandResult jsonl =
      Tervo("classify bytes.jsonl --jsonl --data-dir . --temp-dir .", dir_.path(), true);
  EXPECT_EQ(0, jsonl.status);
  const std::vector<std::string> plain_lines = tervo_test::SplitLines(plain.out);
  const std::vector<std::string> jsonl_lines = tervo_test::SplitLines(jsonl.out);
  ASSERT_EQ(5u, plain_lines.size()) << plain.out;
  ASSERT_EQ(4u, jsonl_lines.size()) << jsonl.out;
  for (const auto* lines : {&plain_lines, &jsonl_lines}) {
    for (const std::string& line : *lines) {
      EXPECT_TRUE(nlohmann::json::accept(line)) << line;  // UTF-8 and well formed
    }
  }
  // Empty messages are classified (nothing to flag); bytes that are not
  // UTF-8 do not hide the words around them.
  EXPECT_NE(std::string::npos, plain_lines[0].find("\"41010\":-1")) << plain_lines[0];
  EXPECT_NE(std::string::npos, plain_lines[1].find("\"flagged\":[\"Im Words Filter\"")) << plain_lines[1];
  EXPECT_NE(std::string::npos, jsonl_lines[0].find("\"error\"")) << jsonl_lines[0];
  EXPECT_NE(std::string::npos, jsonl_lines[1].find("\"41010\":-1")) << jsonl_lines[1];
  EXPECT_NE(std::string::npos, jsonl_lines[2].find("\"error\"")) << jsonl_lines[2];
  EXPECT_NE(std::string::npos, jsonl_lines[3].find("\"flagged\":[\"Im Words Filter\"")) << jsonl_lines[3];

  for (const char* input : {"no-such.txt", "."}) {
    CommandResult run = Tervo(std::string("classify ") + input + " --data-dir . --temp-dir .",
                              dir_.path());
    EXPECT_EQ(1, run.status) << input;
    EXPECT_NE(std::string::npos, run.out.find(std::string("cannot open ") + input)) << run.out;
  }
}

TEST_F(BadDataTest, CompileRefusesWhatItCannotReadOrWhatNoReaderWouldTake) {
  // Garbage in any source: named by file and line, nothing written.
  WriteText(dir_.File("nul.txt"), std::string("category a 1 2 3 4\nab\0cd 1\n", 26));
  struct Case {
    const char* args;
    const char* message;
  } cases[] = {
      {"compile words . -o out.dat", "cannot read ."},
      {"compile blacklist missing.txt -o out.dat", "cannot read missing.txt"},
      {"compile words nul.txt -o out.dat", "nul.txt:2: a NUL byte"},
      {"compile blacklist nul.txt -o out.dat", "nul.txt:2: a NUL byte"},
      {"compile markovian nul.txt -o out.dat", "nul.txt:2: a NUL byte"},
  };
  for (const Case& c : cases) {
    CommandResult run = Tervo(c.args, dir_.path());
    EXPECT_EQ(1, run.status) << c.args;
    EXPECT_NE(std::string::npos, run.out.find(c.message)) << c.args << "\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out.dat"))) << c.args;
  }
  // A list whose data file would be above what readers open.
  {
    std::ofstream big(dir_.File("big.txt"), std::ios::binary);
    big << "category big 1 2 3 4\n";
    const std::string tail(1000, 'x');
    for (int i = 0; i < 52000; ++i) big << "w" << i << tail << " 1\n";
  }
  CommandResult big = Tervo("compile words big.txt -o imwords.dat", dir_.path());
  EXPECT_EQ(1, big.status);
  EXPECT_NE(std::string::npos, big.out.find("readers refuse files above 50 MB")) << big.out;
  // The earlier imwords.dat is untouched.
  EXPECT_EQ(0, Tervo("dump imwords.dat --work-dir .", dir_.path()).status);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir_.path()));
}

TEST_F(BadDataTest, DumpNamesTheDamageOfEveryFormatAndLeavesNoCopy) {
  for (const char* format : {"words", "blacklist", "markovian"}) {
    WriteCutPayload(dir_.File("cut.dat"), dir_.path(), 3);
    CommandResult run =
        Tervo(std::string("dump cut.dat --work-dir . --as ") + format, dir_.path(), false);
    EXPECT_EQ(1, run.status) << format << "\n" << run.out;
    EXPECT_NE(std::string::npos, run.out.find("tervo dump: cut.dat: ")) << run.out;
    // The header was sound and is printed; nothing of the payload is.
    EXPECT_NE(std::string::npos, run.out.find("# payload: 4 bytes")) << run.out;
  }
  std::filesystem::resize_file(dir_.File("cut.dat"), 60u << 20);
  CommandResult big = Tervo("dump cut.dat --work-dir .", dir_.path());
  EXPECT_EQ(1, big.status);
  EXPECT_NE(std::string::npos, big.out.find("exceeds 50 MB")) << big.out;
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(dir_.path()));
}

}  // namespace

namespace {

// The plug-in's log goes where --trace or AS_TRACER_PATH names, and nowhere
// without them.
TEST(TervoCommand, WritesThePluginLogOnlyWhereAsked) {
  TempDir dir;
  WriteText(dir.File("chat.txt"), "hello\nyou damn idiot\n");
  std::filesystem::create_directory(dir.File("asked"));
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
    CommandResult run = Tervo(c.args, dir.path());
    EXPECT_EQ(0, run.status) << c.args << "\n" << run.out;
    const std::string log = dir.File("asked/as2_debug.log");
    EXPECT_EQ(c.logged, std::filesystem::exists(log)) << c.args;
    std::filesystem::remove(log);
    EXPECT_FALSE(std::filesystem::exists(dir.File("as2_debug.log"))) << c.args;
  }
  EXPECT_NE(0, Tervo("classify chat.txt --trace missing", dir.path()).status);
}

// The blacklist filter runs on without a list it cannot load; the command
// reads the list through itself and stops, as the engine refuses it.
TEST(TervoCommand, ClassifyStopsOnABlacklistOfAnotherDigestWidth) {
  TempDir dir;
  WriteText(dir.File("chat.txt"), "hello\n");
  WriteCutPayload(dir.File("imblacklist.dat"), dir.path(), 3);  // the width word only
  CommandResult run = Tervo("classify chat.txt --data-dir . --temp-dir . --user bob", dir.path());
  EXPECT_EQ(1, run.status) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("./imblacklist.dat: cannot be loaded: keys of 3 digest "
                                            "words, not 2 (the data inside the file is damaged)"))
      << run.out;
}

}  // namespace
