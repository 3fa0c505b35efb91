// What the fuzz targets share: scratch folders, a check that aborts (which
// libFuzzer reports as a crash, with the input that caused it), and the
// writing of a payload into a valid data-file container.
#ifndef TERVO_FUZZ_FUZZ_SUPPORT_H_
#define TERVO_FUZZ_FUZZ_SUPPORT_H_

#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/binstreamer.h"
#include "src/exceptions/asexception.h"

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

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the
// object goes away. Aborts when the folder cannot be made.
class ScratchDir {
 public:
  explicit ScratchDir(const char* tag) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/tervo-fuzz-" + tag + "-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch folder " + pattern);
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The folders of a target that reads files: where each input is written, and
// the streamer's work folder. Made on first use, removed when the program
// ends; a program asks with one `tag` only.
struct Folders {
  explicit Folders(const std::string& tag)
      : input((tag + "-in").c_str()), work((tag + "-work").c_str()) {}
  ScratchDir input;
  ScratchDir work;
};

inline const Folders& TargetFolders(const char* tag) {
  static const Folders folders(tag);
  return folders;
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

// Writes `size` bytes at `data` as the whole payload of a data-file container
// at `path` with `version`, the way the compilers write a file. Aborts when
// the container cannot be written: the inputs here are never at fault.
inline void WritePayloadFile(const std::string& path, const uint8_t* data, size_t size,
                             uint32_t version, const std::string& work_folder) {
  try {
    ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite,
                                  work_folder.c_str(), version);
    // A zero-byte write counts as failed: an empty payload is no write.
    if (size != 0) out.WriteBytes(data, static_cast<uint32_t>(size));
    out.Close();
  } catch (const ASException& e) {
    Fail(__FILE__, __LINE__, std::string("cannot write the container: ") + e.what());
  }
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
