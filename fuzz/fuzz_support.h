// What the fuzz targets add to the shared test support: a check that aborts
// (which libFuzzer reports as a crash, with the input that caused it), the
// scratch folders of a target, and the check that readers leave none of their
// working copies behind.
#ifndef TERVO_FUZZ_FUZZ_SUPPORT_H_
#define TERVO_FUZZ_FUZZ_SUPPORT_H_

#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "tests/support/test_support.h"

namespace tervo_fuzz {

// Prints `what` with its place and aborts: a broken promise of the code
// under test, or a harness that cannot go on.
[[noreturn]] inline void Fail(const char* file, int line, const std::string& what) {
  fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
  fflush(stderr);
  abort();
}

#define FUZZ_CHECK(condition, what)                                        \
  do {                                                                     \
    if (!(condition)) ::tervo_fuzz::Fail(__FILE__, __LINE__, (what));      \
  } while (0)

// The folders of a target that reads files: where each input is written, and
// the streamer's work folder. Made on first use, removed when the program
// ends; a program asks with one `tag` only.
struct Folders {
  explicit Folders(const std::string& tag)
      : input(("tervo-fuzz-" + tag + "-in").c_str()), work(("tervo-fuzz-" + tag + "-work").c_str()) {
    FUZZ_CHECK(!input.path().empty() && !work.path().empty(), "cannot make the scratch folders");
  }
  tervo_test::TempDir input;
  tervo_test::TempDir work;
};

inline const Folders& TargetFolders(const char* tag) {
  static const Folders folders(tag);
  return folders;
}

// Writes the `size` bytes at `data` to `path`, replacing what was there.
inline void WriteInput(const std::string& path, const void* data, size_t size) {
  FILE* out = fopen(path.c_str(), "wb");
  FUZZ_CHECK(out != nullptr && (size == 0 || fwrite(data, 1, size, out) == size) && fclose(out) == 0,
             "cannot write " + path);
}

// The first entry of `folder` other than "." and "..", or "" when it has
// none (or cannot be read).
inline std::string FirstEntry(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return "";
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      found = name;
      break;
    }
  }
  closedir(dir);
  return found;
}

// Aborts when `folder` holds anything: every data-file reader must remove its
// working copy ("qxas...") whatever happened.
inline void CheckFolderEmpty(const std::string& folder, const char* after) {
  const std::string left = FirstEntry(folder);
  FUZZ_CHECK(left.empty(), std::string("after ") + after + " the work folder still holds " + left);
}

// Runs in `folder` for the life of the object, for code that keeps its work
// files in the current folder; goes back to the folder it came from.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& folder) : previous_(open(".", O_RDONLY | O_DIRECTORY)) {
    FUZZ_CHECK(previous_ >= 0 && chdir(folder.c_str()) == 0, "cannot enter " + folder);
  }
  ~ScopedChdir() {
    FUZZ_CHECK(fchdir(previous_) == 0, "cannot go back to the previous folder");
    close(previous_);
  }
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  int previous_;
};

// The little-endian u32 at `p`.
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace tervo_fuzz

#endif  // TERVO_FUZZ_FUZZ_SUPPORT_H_
