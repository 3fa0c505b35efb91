// The tervo command, run as a user runs it: the built binary in a child
// process, its output and exit status.
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/binstreamer.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CBinaryStreamer;
using tervo_test::TempDir;

struct CommandResult {
  int status;
  std::string out;  // stdout and stderr together
};

// Runs the built tervo with `args` (shell words) in `dir`.
CommandResult Tervo(const std::string& args, const std::string& dir) {
  std::string command = "cd '" + dir + "' && AS_TRACER_PATH='" + dir + "' '" +
                        tervo_test::ProgramFolder() + "/tervo' " + args + " 2>&1";
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
      "file: sample.dat\n"
      "version: 3\n"
      "description: File description should go here!\n"
      "header words: 0 0\n"
      // MD5 of 01 00 00 00 03 00 00 00 61 62 63.
      "digest: 2c23a2cecf96c169ecc9c6f9fbb4c3fd (matches the payload)\n"
      "payload: 11 bytes\n",
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
