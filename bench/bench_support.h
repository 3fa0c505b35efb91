// What the benchmark programs share: a scratch folder for their data files, and
// the plug-in loaded the way a host loads it, with one filter and one session.
#ifndef TERVO_BENCH_BENCH_SUPPORT_H_
#define TERVO_BENCH_BENCH_SUPPORT_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "host/plugin_host.h"
#include "host/settings.h"

namespace tervo_bench {

// A folder for the files of this run, removed at exit.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tervo-bench-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string(".");
  }
  ~BenchDir() {
    std::error_code ignored;
    if (path_ != ".") std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const char* name) const { return path_ + "/" + name; }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

inline BenchDir& Dir() {
  static BenchDir dir;
  return dir;
}

// tervo.mdl from the program's folder with one filter of `type` reading its
// data from Dir(), and session 1 of `age` (enabled). The plug-in's log lines
// are all filtered out, as a host tuned for throughput runs it. `filter` is
// null when anything failed.
struct PluginWithFilter {
  explicit PluginWithFilter(const char* type, const char* age = "adult") {
    setenv("AS_TRACER_PATH", Dir().path(), 1);
    setenv("TERVO_TRACE_LEVEL", "-1", 1);
    const std::string folder = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    std::string error;
    if (!plugin.Load(folder + "/tervo.mdl", &error)) return;
    settings.SetString("/im/general/ImSharedDataPath", Dir().path());
    settings.SetString("/im/general/GlobalTempPath", Dir().path());
    settings.SetString("/im/general/UserAge", age, 1);
    settings.SetInt("/im/filter/Enabled", 1, 1);
    filter = plugin.CreateFilter(type, &settings);
    if (filter == nullptr || filter->ApplySharedSettings() != 0 ||
        tervo_host::OpenSession(filter, 1) != 0) {
      filter = nullptr;
    }
  }
  tervo_host::Plugin plugin;
  tervo_host::Settings settings;
  CAFilter* filter = nullptr;
};

}  // namespace tervo_bench

#endif  // TERVO_BENCH_BENCH_SUPPORT_H_
