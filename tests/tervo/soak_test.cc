// A soak of the plug-in under load. Worker threads pass a fixed set of
// messages through every filter, in long-lived sessions of each age and in
// sessions that come and go, while a loader thread keeps replacing the data
// files with one of two versions (renamed into place, rewritten in place, cut
// short) and re-applies the shared settings, and a session thread opens and
// releases sessions. Every item must carry the whole verdict of one data
// version, or of the nothing-loaded state a failed reload leaves the words
// and blacklist filters in, or a clean failure; both versions must be seen.
// The verdicts of each version are worked out from the data below and
// checked from one thread before the storm; after every reload cycle the
// loader checks that the filters hold exactly the version it put in place.
// Bounded by a number of reload cycles and a wall clock; meant to run under
// ThreadSanitizer as well.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/binstreamer.h"
#include "common/item.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "tests/tervo/model_writer.h"
#include "tests/tervo/plugin_fixture.h"

namespace tervo_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 3;
// Reload cycles of the loader; each ends with the other version complete.
constexpr int kCycles = 100;
// The loader stops early once the storm has run this long.
constexpr auto kStormBudget = std::chrono::seconds(20);
// Every thread must have finished this long after the start, or the program
// aborts (a deadlock would otherwise only show as a CTest timeout).
constexpr auto kWatchdog = std::chrono::seconds(50);
// Items the workers process between two cycles, so that every version is met
// by items and not only by the loader.
constexpr uint64_t kItemsPerCycle = 300;
// Session ids the session thread may open, from kFirstChurnId.
constexpr uint64_t kFirstChurnId = 1000;
constexpr uint64_t kChurnIds = 20000;
// Unexpected results kept for the failure message.
constexpr size_t kKeptProblems = 12;

enum Filter { kWords, kBlacklist, kMarkovian, kSign, kFilterCount };
constexpr const char* kFilterNames[kFilterCount] = {kWordsName, kBlacklistName, kMarkovianName,
                                                    kSignName};

// What a filter may have loaded: one of the two data versions, or nothing
// (the state a failed reload leaves the words and blacklist filters in).
enum State { kVersionA, kVersionB, kNothing, kStateCount };
constexpr const char* kStateNames[kStateCount] = {"version A", "version B", "nothing loaded"};

enum Age { kChild, kTeen, kAdult, kAgeCount };
constexpr const char* kAgeNames[kAgeCount] = {"child", "teen", "adult"};

// The long-lived sessions, one per age, by age index.
constexpr uint64_t kLongSessions[kAgeCount] = {1, 2, 3};

Age ChurnAge(uint64_t id) { return static_cast<Age>(id % kAgeCount); }

// ---- The two versions of each data file and what they answer ----

struct WordsCategory {
  const char* name;
  int32_t child, teen, adult;
  std::vector<std::pair<const char*, int32_t>> words;
};

const std::vector<WordsCategory> kWordsVersions[2] = {
    {{"rude", 0, 1, 2, {{"damn", 2}, {"shit", 4}}},
     {"mean", 0, 1, 2, {{"idiot", 3}, {"loser", 5}}}},
    {{"rude", 0, 1, 2, {{"damn", 3}, {"shit", 6}, {"crap", 2}}},
     {"mean", 0, 1, 2, {{"idiot", 4}, {"loser", 7}, {"dork", 2}}}},
};

// Words verdicts (key 41010) by version, then child, teen, adult: the sum of
// the last category (file order) whose sum is above the age's threshold.
struct WordsProbe {
  const char* text;
  int32_t verdict[2][kAgeCount];
};
const WordsProbe kWordsProbes[] = {
    {"damn", {{2, 2, -1}, {3, 3, 3}}},
    {"you idiot", {{3, 3, 3}, {4, 4, 4}}},
    {"damn idiot", {{3, 3, 3}, {4, 4, 4}}},  // both fire; mean comes last
    {"Shit, LOSER!", {{5, 5, 5}, {7, 7, 7}}},
    {"crap dork", {{-1, -1, -1}, {2, 2, -1}}},
    {"hello there", {{-1, -1, -1}, {-1, -1, -1}}},
};

const std::vector<std::string> kBlacklistVersions[2] = {
    {"stranger_danger88", "shared_creep"},
    {"FreeGiftCards4U", "shared_creep", "creepy.uncle@example.net"},
};

// Whether the other party is listed, by version; the age does not matter.
struct BlacklistProbe {
  const char* user;
  bool listed[2];
};
const BlacklistProbe kBlacklistProbes[] = {
    {"stranger_danger88", {true, false}},
    {"FreeGiftCards4U", {false, true}},
    {"shared_creep", {true, true}},
    {"best_friend_ella", {false, false}},
};

// Both versions name the same classes, so a reload (which merges by class
// name) leaves exactly the new version.
const std::vector<ModelClass> kModelVersions[2] = {
    {{"risk", 10, {{9, {"meet", "me"}}, {4, {"come", "alone"}}}},
     {"secret", 6, {{6, {"our", "secret"}}}}},
    {{"risk", 10, {{12, {"meet", "me"}}, {2, {"come", "alone"}}, {3, {"right", "now"}}}},
     {"secret", 6, {{3, {"our", "secret"}}, {5, {"tell", "nobody"}}}}},
};

// Markovian verdict texts (key 41017) by version, then child, teen, adult: a
// class fires when its sum reaches threshold x age factor (1.0, 0.8, 0.0); ""
// means no keys at all.
struct MarkovianProbe {
  const char* text;
  const char* verdict[2][kAgeCount];
};
const MarkovianProbe kMarkovianProbes[] = {
    {"meet me",
     {{"", "<risk;9>", "<risk;9><secret;0>"},
      {"<risk;12>", "<risk;12>", "<risk;12><secret;0>"}}},
    {"come alone, it is our secret",
     {{"<secret;6>", "<secret;6>", "<risk;4><secret;6>"}, {"", "", "<risk;2><secret;3>"}}},
    {"tell nobody right now",
     {{"", "", "<risk;0><secret;0>"}, {"", "<secret;5>", "<risk;3><secret;5>"}}},
    {"hello there", {{"", "", "<risk;0><secret;0>"}, {"", "", "<risk;0><secret;0>"}}},
};

constexpr const char* kSignProbes[] = {"meet me", "hello there"};

constexpr size_t ProbeCount(Filter filter) {
  switch (filter) {
    case kWords: return std::size(kWordsProbes);
    case kBlacklist: return std::size(kBlacklistProbes);
    case kMarkovian: return std::size(kMarkovianProbes);
    default: return std::size(kSignProbes);
  }
}

// The keys a filter writes, as RenderKeys prints them.
std::string WordsKeys(int32_t verdict) { return "41010:i=" + std::to_string(verdict); }
std::string BlacklistKeys(bool listed) { return listed ? "41011:b=1" : ""; }
std::string MarkovianKeys(const std::string& text) {
  return text.empty() ? "" : "41015:b=1 41016:i=0 41017:t=" + text;
}

// The keys `filter` writes for probe `probe` in a session of `age` with
// `state` loaded; false when the filter never gets into that state.
bool ExpectedKeys(Filter filter, size_t probe, State state, Age age, std::string* keys) {
  switch (filter) {
    case kWords:
      *keys = WordsKeys(state == kNothing ? -1 : kWordsProbes[probe].verdict[state][age]);
      return true;
    case kBlacklist:
      *keys = BlacklistKeys(state != kNothing && kBlacklistProbes[probe].listed[state]);
      return true;
    case kMarkovian:
      // A failed load adds nothing to the model and takes nothing away.
      if (state == kNothing) return false;
      *keys = MarkovianKeys(kMarkovianProbes[probe].verdict[state][age]);
      return true;
    default:
      // Nothing is loaded, so the signature filter never marks an item.
      *keys = "";
      return state == kNothing;
  }
}

// Every key of the item's input/output box except the other party, sorted,
// as "key:type=value" separated by blanks.
std::string RenderKeys(tervo_host::Item* item) {
  ascommon::CBlackBox* box = item->io();
  if (box == nullptr) return "<no box>";
  std::vector<std::pair<uint32_t, std::string>> keys;
  for (auto& node : *box) {
    const uint32_t key = node.key;
    if (key == ascommon::IM_USER_INFO_KEY) continue;
    std::string value;
    switch (node.value->type) {
      case ascommon::CBlackBox::kBool:
        value = std::string("b=") + (box->GetBool(key, false) ? "1" : "0");
        break;
      case ascommon::CBlackBox::kInt32:
        value = "i=" + std::to_string(box->GetInt32(key, 0));
        break;
      case ascommon::CBlackBox::kText: {
        const ascommon::sstring* text = box->GetText(key);
        value = std::string("t=") + (text != nullptr && !text->is_null() ? text->c_str() : "");
        break;
      }
      default:
        value = "type" + std::to_string(node.value->type);
    }
    keys.emplace_back(key, value);
  }
  std::sort(keys.begin(), keys.end());
  std::string out;
  for (const auto& [key, value] : keys) {
    if (!out.empty()) out += ' ';
    out += std::to_string(key) + ":" + value;
  }
  return out;
}

// ---- Writing the data files ----

void WriteWords(const std::string& path, const std::vector<WordsCategory>& categories) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsWordsHeur::WordsFileWriter writer(&out);
  writer.WriteCategoryCount(static_cast<uint32_t>(categories.size()));
  for (const WordsCategory& c : categories) {
    writer.WriteCategoryHeader(ascommon::sstring(c.name), c.child, c.teen, c.adult, 0,
                               static_cast<int32_t>(c.words.size()));
    for (const auto& [word, weight] : c.words) writer.WriteWord(ascommon::sstring(word), weight);
  }
}

void WriteBlacklist(const std::string& path, const std::vector<std::string>& users) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsUrlDb2::UrlDbFileWriter writer(&out);
  writer.WriteHeader(nsUrlDb2::kDigestWidth, static_cast<uint32_t>(users.size()), 0, 0);
  for (const std::string& user : users) {
    writer.WriteKey(nsUrlDb2::DigestKey(user.data(), user.size()));
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// ---- What the threads saw ----

// One worker's tally: for each filter, items whose keys matched exactly one
// state, items that matched several, clean failures, and anything else.
struct Tally {
  uint64_t items = 0;
  uint64_t rounds = 0;
  uint64_t only[kFilterCount][kStateCount] = {};
  uint64_t ambiguous[kFilterCount] = {};
  uint64_t clean_failures[kFilterCount] = {};
  uint64_t problems = 0;
  std::vector<std::string> kept;

  void Problem(const std::string& what) {
    ++problems;
    if (kept.size() < kKeptProblems) kept.push_back(what);
  }
  void Add(const Tally& other) {
    items += other.items;
    rounds += other.rounds;
    for (int f = 0; f < kFilterCount; ++f) {
      for (int s = 0; s < kStateCount; ++s) only[f][s] += other.only[f][s];
      ambiguous[f] += other.ambiguous[f];
      clean_failures[f] += other.clean_failures[f];
    }
    problems += other.problems;
    for (const std::string& k : other.kept) {
      if (kept.size() < kKeptProblems) kept.push_back(k);
    }
  }
};

// The state of the data files the loader has put in place.
enum FileState { kComplete, kEmpty, kPartial };
constexpr const char* kFileStateNames[] = {"complete", "empty", "partial"};

// Runs `body` on a new thread and counts it finished when it returns.
class Threads {
 public:
  void Start(std::function<void()> body) {
    threads_.emplace_back([this, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> lock(mutex_);
      ++finished_;
      cv_.notify_all();
    });
  }

  // Joins every thread if all finish by `deadline`; otherwise aborts the
  // program, naming the count still running.
  void JoinBy(Clock::time_point deadline) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_until(lock, deadline, [this] { return finished_ == threads_.size(); })) {
        fprintf(stderr, "soak: %zu of %zu threads still running at the deadline (deadlock?)\n",
                threads_.size() - finished_, threads_.size());
        abort();
      }
    }
    for (std::thread& t : threads_) t.join();
  }

 private:
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable cv_;
  size_t finished_ = 0;
};

class SoakTest : public PluginTest {
 protected:
  static constexpr const char* kFileNames[3] = {"imwords.dat", "imblacklist.dat",
                                                "im_markovian.dat"};

  void SetUp() override {
    PluginTest::SetUp();
    if (HasFatalFailure()) return;
    // The plug-in logs a line per item and the soak passes hundreds of
    // thousands: it runs with the log off. The level is read when the plug-in
    // loads the trace library, so it is loaded again.
    plugin_.Unload();
    trace_level_.reset();
    trace_level_ = std::make_unique<ScopedEnv>("TERVO_TRACE_LEVEL", "-1");
    std::string error;
    ASSERT_TRUE(plugin_.Load(PluginPath(), &error)) << error;
    ASSERT_FALSE(data_.path().empty());
    ASSERT_FALSE(staging_.path().empty());
    settings_.SetString("/im/general/ImSharedDataPath", data_.path());
    settings_.SetString("/im/general/GlobalTempPath", data_.path());
    // Every session's settings are in place before any thread starts: the
    // settings provider is only read while the threads run.
    for (int age = 0; age < kAgeCount; ++age) {
      settings_.SetString(kUserAgeKey, kAgeNames[age], kLongSessions[age]);
      settings_.SetInt(kEnabledKey, 1, kLongSessions[age]);
    }
    for (uint64_t id = kFirstChurnId; id < kFirstChurnId + kChurnIds; ++id) {
      settings_.SetString(kUserAgeKey, kAgeNames[ChurnAge(id)], id);
      settings_.SetInt(kEnabledKey, 1, id);
    }
    // The factory's order.
    for (Filter f : {kBlacklist, kWords, kSign, kMarkovian}) {
      filters_[f] = Create(kFilterNames[f]);
      ASSERT_NE(filters_[f], nullptr);
    }
    for (int v = 0; v < 2; ++v) {
      const std::string folder = staging_.path() + "/" + std::to_string(v);
      ASSERT_TRUE(std::filesystem::create_directory(folder));
      WriteWords(folder + "/" + kFileNames[0], kWordsVersions[v]);
      WriteBlacklist(folder + "/" + kFileNames[1], kBlacklistVersions[v]);
      WriteModel(folder + "/" + kFileNames[2], kModelVersions[v]);
      for (int file = 0; file < 3; ++file) {
        bytes_[file][v] = ReadFile(folder + "/" + kFileNames[file]);
        ASSERT_GT(bytes_[file][v].size(), ascommon::CBinaryStreamer::kHeaderSize);
      }
    }
    for (int file = 0; file < 3; ++file) {
      SCOPED_TRACE(kFileNames[file]);
      // The filters reload only on a change of size, and a cut file must
      // never have the size of a whole one.
      ASSERT_NE(bytes_[file][0].size(), bytes_[file][1].size());
      for (int v = 0; v < 2; ++v) {
        for (size_t cut : CutLengths(bytes_[file][v].size())) {
          ASSERT_NE(cut, bytes_[file][0].size());
          ASSERT_NE(cut, bytes_[file][1].size());
        }
      }
    }
  }

  // Lengths at which the loader leaves a file cut short: inside the header,
  // half way, one byte short.
  static std::vector<size_t> CutLengths(size_t size) { return {64, size / 2, size - 1}; }

  std::string LivePath(int file) const { return data_.File(kFileNames[file]); }

  // Puts version `v` of every data file in place by renaming a complete copy
  // over it.
  bool InstallByRename(int v) {
    for (int file = 0; file < 3; ++file) {
      const std::string next = LivePath(file) + ".next";
      const int fd = open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) return false;
      const bool written = WriteAll(fd, bytes_[file][v].data(), bytes_[file][v].size());
      if (close(fd) != 0 || !written || rename(next.c_str(), LivePath(file).c_str()) != 0) {
        return false;
      }
    }
    return true;
  }

  // Cuts every data file down to `length(file)` bytes where it is.
  bool CutLiveFiles(const std::function<size_t(int)>& length) {
    for (int file = 0; file < 3; ++file) {
      if (truncate(LivePath(file).c_str(), static_cast<off_t>(length(file))) != 0) return false;
    }
    return true;
  }

  // What ApplySharedSettings must answer with the files in `state`, and the
  // message a failure records.
  static std::pair<int32_t, std::string> ExpectedApply(Filter filter, FileState state) {
    switch (filter) {
      case kWords:
        if (state == kEmpty) return {-201, "[IM Words Filter] Problems loading the file"};
        if (state == kPartial) return {-104, "[IM Words Filter] Problems reloading the dictionary"};
        return {0, ""};
      case kMarkovian:
        if (state == kEmpty) return {-201, "[IM Markovian Filter] Problems loading the file"};
        if (state == kPartial) {
          return {-104, "[IM Markovian Filter] Problems reloading the dictionary"};
        }
        return {0, ""};
      case kBlacklist:
        // A file that does not load leaves the filter without a list, quietly.
        return {0, ""};
      default:
        return {-201, "[IM Sign] loading the im signatures is not available in this build"};
    }
  }

  // ApplySharedSettings on every filter with the files in `state`; answers a
  // description of each answer that was not the expected one.
  std::vector<std::string> ApplyAll(FileState state) {
    std::vector<std::string> wrong;
    for (int f = 0; f < kFilterCount; ++f) {
      const int32_t status = filters_[f]->ApplySharedSettings();
      const std::string message = status != 0 ? LastMessage() : "";
      const auto [code, text] = ExpectedApply(static_cast<Filter>(f), state);
      if (status != code || message != text) {
        wrong.push_back(std::string(kFilterNames[f]) + " with " + kFileStateNames[state] +
                        " files answered " + std::to_string(status) + " \"" + message +
                        "\", expected " + std::to_string(code) + " \"" + text + "\"");
      }
      ++applies_;
    }
    return wrong;
  }

  // What one item of probe `probe` in `session` came back with.
  struct Answer {
    int32_t status = 0;
    int32_t recorded = 0;  // the thread's error code afterwards
    std::string message;   // its message, after a failure
    std::string keys;      // as RenderKeys prints them
  };

  // Passes probe `probe` through `filter` in `session`, as a host does.
  Answer Pass(Filter filter, size_t probe, uint64_t session) {
    const char* text = "hello";
    const char* user = nullptr;
    switch (filter) {
      case kWords: text = kWordsProbes[probe].text; break;
      case kBlacklist: user = kBlacklistProbes[probe].user; break;
      case kMarkovian: text = kMarkovianProbes[probe].text; break;
      default: text = kSignProbes[probe]; break;
    }
    tervo_host::Item item(text, nullptr, user);
    Answer answer;
    answer.status = filters_[filter]->ProcessEntity(session, item.get(), 0);
    answer.recorded = LastCode();
    if (answer.status != 0) answer.message = LastMessage();
    answer.keys = RenderKeys(&item);
    return answer;
  }

  static std::string Where(Filter filter, size_t probe, uint64_t session, Age age) {
    const char* what = filter == kWords       ? kWordsProbes[probe].text
                       : filter == kBlacklist ? kBlacklistProbes[probe].user
                       : filter == kMarkovian ? kMarkovianProbes[probe].text
                                              : kSignProbes[probe];
    return std::string(kFilterNames[filter]) + " session " + std::to_string(session) + " (" +
           kAgeNames[age] + ") \"" + what + "\": ";
  }

  // Passes probe `probe` through `filter` in `session`, checks the answer
  // against every state `filter` may be in and tallies it. `known_open` says
  // the session is surely open; otherwise it may be released meanwhile, and
  // then a failure for want of its data is clean, and the blacklist and
  // signature filters leave the item unmarked.
  void ProcessProbe(Filter filter, size_t probe, uint64_t session, Age age, bool known_open,
                    Tally* tally) {
    const Answer a = Pass(filter, probe, session);
    ++tally->items;
    if (a.status != 0) {
      // Whole: no key written, the cause recorded.
      const bool clean = !known_open && a.status == -104 && a.recorded == -104 && a.keys.empty() &&
                         a.message.find("] invalid data struct") != std::string::npos;
      if (clean) {
        ++tally->clean_failures[filter];
      } else {
        tally->Problem(Where(filter, probe, session, age) + "status " + std::to_string(a.status) +
                       " \"" + a.message + "\" keys [" + a.keys + "]");
      }
      return;
    }
    if (a.recorded != 0) {
      tally->Problem(Where(filter, probe, session, age) + "success left code " +
                     std::to_string(a.recorded) + " recorded");
    }
    int matched = 0;
    State last = kNothing;
    for (int s = 0; s < kStateCount; ++s) {
      std::string expected;
      if (ExpectedKeys(filter, probe, static_cast<State>(s), age, &expected) &&
          expected == a.keys) {
        ++matched;
        last = static_cast<State>(s);
      }
    }
    if (matched == 0 && !known_open && (filter == kBlacklist || filter == kSign) &&
        a.keys.empty()) {
      ++tally->clean_failures[filter];
    } else if (matched == 0) {
      tally->Problem(Where(filter, probe, session, age) + "keys [" + a.keys +
                     "] match no data version");
    } else if (matched == 1) {
      ++tally->only[filter][last];
    } else {
      ++tally->ambiguous[filter];
    }
  }

  // One round of a worker: every probe of every filter in every long-lived
  // session, and in the newest session of the session thread if there is one.
  void WorkerRound(int worker, uint64_t churn_session, Tally* tally) {
    for (int turn = 0; turn < kAgeCount + 1; ++turn) {
      // Each worker starts at another session and filter.
      const int slot = (turn + worker) % (kAgeCount + 1);
      uint64_t session = 0;
      Age age = kChild;
      if (slot < kAgeCount) {
        session = kLongSessions[slot];
        age = static_cast<Age>(slot);
      } else if (churn_session != 0) {
        session = churn_session;
        age = ChurnAge(churn_session);
      } else {
        continue;
      }
      for (int k = 0; k < kFilterCount; ++k) {
        const Filter filter = static_cast<Filter>((k + worker) % kFilterCount);
        for (size_t p = 0; p < ProbeCount(filter); ++p) {
          ProcessProbe(filter, p, session, age, slot < kAgeCount, tally);
        }
      }
    }
    ++tally->rounds;
  }

  // Passes every probe in every long-lived session: each must succeed with
  // exactly the keys of `states[filter]`. Answers a description of each one
  // that did not.
  std::vector<std::string> MismatchedProbes(const State (&states)[kFilterCount],
                                            const std::string& when) {
    std::vector<std::string> wrong;
    for (int f = 0; f < kFilterCount; ++f) {
      const Filter filter = static_cast<Filter>(f);
      for (int age = 0; age < kAgeCount; ++age) {
        for (size_t p = 0; p < ProbeCount(filter); ++p) {
          std::string expected;
          const bool reachable =
              ExpectedKeys(filter, p, states[f], static_cast<Age>(age), &expected);
          const Answer a = Pass(filter, p, kLongSessions[age]);
          if (!reachable || a.status != 0 || a.recorded != 0 || a.keys != expected) {
            wrong.push_back(when + ", " + kStateNames[states[f]] + ": " +
                            Where(filter, p, kLongSessions[age], static_cast<Age>(age)) +
                            "status " + std::to_string(a.status) + " \"" + a.message +
                            "\" recorded " + std::to_string(a.recorded) + " keys [" + a.keys +
                            "], expected [" + expected + "]");
          }
        }
      }
    }
    return wrong;
  }

  // MismatchedProbes from the test's own thread, each one a failure.
  void CheckAllProbes(const State (&states)[kFilterCount], const std::string& when) {
    for (const std::string& w : MismatchedProbes(states, when)) ADD_FAILURE() << w;
  }

  TempDir data_;
  TempDir staging_;
  CAFilter* filters_[kFilterCount] = {};
  std::string bytes_[3][2];  // [file][version]: the file as it lies on disk
  std::atomic<uint64_t> applies_{0};
};

TEST_F(SoakTest, VerdictsStayWholeWhileDataFilesAndSessionsChangeUnderLoad) {
  const Clock::time_point started = Clock::now();
  for (int age = 0; age < kAgeCount; ++age) {
    for (int f = 0; f < kFilterCount; ++f) {
      ASSERT_EQ(tervo_host::OpenSession(filters_[f], kLongSessions[age]), 0)
          << kFilterNames[f] << " " << LastMessage();
    }
  }

  // The expectations, checked from one thread: each version as written, and
  // a reload that fails on a cut file (the words and blacklist filters are
  // left with nothing, the Markovian model keeps what it had).
  for (int v = 0; v < 2; ++v) {
    ASSERT_TRUE(InstallByRename(v));
    for (const std::string& w : ApplyAll(kComplete)) ADD_FAILURE() << w;
    const State s = static_cast<State>(v);
    CheckAllProbes({s, s, s, kNothing}, std::string("single-threaded, ") + kStateNames[v]);
  }
  ASSERT_TRUE(CutLiveFiles([this](int file) { return bytes_[file][1].size() / 2; }));
  for (const std::string& w : ApplyAll(kPartial)) ADD_FAILURE() << w;
  CheckAllProbes({kNothing, kNothing, kVersionB, kNothing}, "single-threaded, after a cut file");
  ASSERT_TRUE(InstallByRename(0));
  for (const std::string& w : ApplyAll(kComplete)) ADD_FAILURE() << w;
  CheckAllProbes({kVersionA, kVersionA, kVersionA, kNothing}, "single-threaded, version A again");
  if (HasFailure()) return;

  // The storm.
  std::atomic<bool> loader_done{false};
  std::atomic<uint64_t> processed{0};
  std::atomic<uint64_t> live_session{0};
  std::vector<Tally> tallies(kWorkers);
  std::vector<std::string> loader_problems;
  int cycles = 0;
  bool budget_hit = false;
  uint64_t opened = 0, released = 0;
  std::vector<std::string> session_problems;
  Threads threads;
  const Clock::time_point storm_start = Clock::now();

  for (int w = 0; w < kWorkers; ++w) {
    threads.Start([&, w] {
      Tally& tally = tallies[w];
      do {
        const uint64_t before = tally.items;
        WorkerRound(w, live_session.load(), &tally);
        processed.fetch_add(tally.items - before);
      } while (!loader_done.load());
    });
  }

  threads.Start([&] {
    std::deque<uint64_t> open_ids;
    uint64_t next = kFirstChurnId;
    auto release = [&](uint64_t id) {
      for (CAFilter* filter : filters_) filter->ReleaseSession(id);
      ++released;
    };
    while (!loader_done.load()) {
      if (next < kFirstChurnId + kChurnIds) {
        const uint64_t id = next++;
        for (int f = 0; f < kFilterCount; ++f) {
          const int32_t status = tervo_host::OpenSession(filters_[f], id);
          if (status != 0 && session_problems.size() < kKeptProblems) {
            session_problems.push_back(std::string(kFilterNames[f]) + " opening " +
                                       std::to_string(id) + " answered " +
                                       std::to_string(status));
          }
        }
        ++opened;
        open_ids.push_back(id);
        live_session.store(id);
      }
      // Two sessions stay open; the older one goes while workers may still
      // be passing it items.
      if (open_ids.size() > 2) {
        release(open_ids.front());
        open_ids.pop_front();
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    live_session.store(0);
    for (uint64_t id : open_ids) release(id);
  });

  threads.Start([&] {
    std::mt19937 rng(20240611);
    auto apply = [&](FileState state, const char* step) {
      for (const std::string& w : ApplyAll(state)) {
        if (loader_problems.size() < kKeptProblems) {
          loader_problems.push_back("cycle " + std::to_string(cycles) + " " + step + ": " + w);
        }
      }
    };
    auto fail = [&](const char* step) {
      loader_problems.push_back("cycle " + std::to_string(cycles) + ": could not " + step);
    };
    int loaded = 0;  // the version complete on disk
    for (; cycles < kCycles; ++cycles) {
      if (Clock::now() - storm_start > kStormBudget) {
        budget_hit = true;
        break;
      }
      const int v = 1 - loaded;
      switch (rng() % 3) {
        case 0:  // renamed into place
          if (!InstallByRename(v)) fail("rename");
          apply(kComplete, "rename");
          break;
        case 1: {  // rewritten in place, the loader looking at every stage
          int fds[3];
          for (int file = 0; file < 3; ++file) {
            fds[file] = open(LivePath(file).c_str(), O_WRONLY | O_TRUNC);
            if (fds[file] < 0) fail("open in place");
          }
          apply(kEmpty, "truncated");
          size_t written[3] = {0, 0, 0};
          for (int stage = 0; stage < 3; ++stage) {
            for (int file = 0; file < 3; ++file) {
              const std::string& bytes = bytes_[file][v];
              const size_t upto = stage < 2 ? CutLengths(bytes.size())[stage] : bytes.size();
              if (fds[file] >= 0 &&
                  !WriteAll(fds[file], bytes.data() + written[file], upto - written[file])) {
                fail("write in place");
              }
              written[file] = upto;
            }
            if (stage < 2) apply(kPartial, "written in part");
          }
          for (int file = 0; file < 3; ++file) {
            if (fds[file] >= 0 && close(fds[file]) != 0) fail("close");
          }
          apply(kComplete, "rewritten");
          break;
        }
        default: {  // the loaded file cut short, then the other one renamed in
          const size_t pick = rng() % 3;
          const auto cut = [&](int file) { return CutLengths(bytes_[file][loaded].size())[pick]; };
          if (!CutLiveFiles(cut)) fail("cut");
          apply(kPartial, "cut");
          if (!InstallByRename(v)) fail("rename");
          apply(kComplete, "rename after cut");
          break;
        }
      }
      loaded = v;
      // Every filter now holds exactly this version (its size differs from
      // the last one loaded), whatever the workers are doing.
      const State now = static_cast<State>(v);
      for (const std::string& w : MismatchedProbes({now, now, now, kNothing}, "cycle " +
                                                   std::to_string(cycles) + " done")) {
        if (loader_problems.size() < kKeptProblems) loader_problems.push_back(w);
      }
      // Let the workers pass items under this version before the next one.
      const uint64_t mark = processed.load() + kItemsPerCycle;
      while (processed.load() < mark && Clock::now() - storm_start <= kStormBudget) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    loader_done.store(true);
  });

  threads.JoinBy(storm_start + kWatchdog);
  const double storm_seconds =
      std::chrono::duration<double>(Clock::now() - storm_start).count();

  Tally total;
  for (const Tally& t : tallies) total.Add(t);
  printf("soak: %.1f s, %d reload cycles%s, %llu ApplySharedSettings calls, %llu items in "
         "%llu rounds, %llu sessions opened, %llu released\n",
         storm_seconds, cycles, budget_hit ? " (wall-clock budget reached)" : "",
         static_cast<unsigned long long>(applies_.load()),
         static_cast<unsigned long long>(total.items),
         static_cast<unsigned long long>(total.rounds), static_cast<unsigned long long>(opened),
         static_cast<unsigned long long>(released));
  for (int f = 0; f < kFilterCount; ++f) {
    printf("soak: %-20s A %llu, B %llu, nothing loaded %llu, several %llu, clean failures %llu\n",
           kFilterNames[f], static_cast<unsigned long long>(total.only[f][kVersionA]),
           static_cast<unsigned long long>(total.only[f][kVersionB]),
           static_cast<unsigned long long>(total.only[f][kNothing]),
           static_cast<unsigned long long>(total.ambiguous[f]),
           static_cast<unsigned long long>(total.clean_failures[f]));
  }

  EXPECT_EQ(total.problems, 0u);
  for (const std::string& k : total.kept) ADD_FAILURE() << k;
  for (const std::string& p : loader_problems) ADD_FAILURE() << p;
  for (const std::string& p : session_problems) ADD_FAILURE() << p;
  for (Filter f : {kWords, kBlacklist, kMarkovian}) {
    SCOPED_TRACE(kFilterNames[f]);
    // Reloads happened under load: items met both versions.
    EXPECT_GT(total.only[f][kVersionA], 0u);
    EXPECT_GT(total.only[f][kVersionB], 0u);
  }
  EXPECT_GE(cycles, 4);
  EXPECT_EQ(opened, released);
  EXPECT_GT(opened, 2u);
  for (int f = 0; f < kFilterCount; ++f) {
    SCOPED_TRACE(kFilterNames[f]);
    EXPECT_EQ(filters_[f]->sessions.GetCount(), static_cast<uint32_t>(kAgeCount));
    EXPECT_EQ(filters_[f]->locker.GetReaderCount(), 0);
    EXPECT_FALSE(filters_[f]->locker.IsDeleted());
  }

  // Afterwards the filters settle on the file in place: version A then
  // version B renamed in, each applied (a file of the size last loaded is not
  // read again, so going through both makes the last load happen).
  ASSERT_TRUE(InstallByRename(0));
  for (const std::string& w : ApplyAll(kComplete)) ADD_FAILURE() << w;
  ASSERT_TRUE(InstallByRename(1));
  for (const std::string& w : ApplyAll(kComplete)) ADD_FAILURE() << w;
  CheckAllProbes({kVersionB, kVersionB, kVersionB, kNothing}, "after the storm");

  EXPECT_EQ(plugin_.ReleaseFactory(), 0);
  printf("soak: %.1f s in all\n",
         std::chrono::duration<double>(Clock::now() - started).count());
}

}  // namespace
}  // namespace tervo_test
