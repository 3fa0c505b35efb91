// Writes small Markovian models for the plug-in suites: each class holds one
// table of sequences of one length.
#ifndef TERVO_TESTS_TERVO_MODEL_WRITER_H_
#define TERVO_TESTS_TERVO_MODEL_WRITER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"

namespace tervo_test {

struct ModelSequence {
  int32_t value;
  std::vector<std::string> words;
};
struct ModelClass {
  std::string name;
  int32_t threshold;
  std::vector<ModelSequence> sequences;  // all of one length
};

// Writes `classes` to an im_markovian.dat at `path`; the table of each class
// is at the index of its sequences' length, the indexes before it empty.
inline void WriteModel(const std::string& path, const std::vector<ModelClass>& classes) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsMarkovian::MarkovianFileWriter writer(&out);
  writer.WriteClassCount(static_cast<uint32_t>(classes.size()));
  for (const ModelClass& c : classes) {
    const int32_t order = static_cast<int32_t>(c.sequences[0].words.size());
    writer.WriteClassHeader(ascommon::sstring(c.name.c_str()), c.threshold,
                            static_cast<uint32_t>(order + 1));
    for (int32_t k = 0; k < order; ++k) writer.WriteTableOrder(0);
    writer.WriteTableOrder(order);
    writer.WriteEntryCount(static_cast<uint32_t>(c.sequences.size()));
    for (const ModelSequence& s : c.sequences) {
      writer.WriteEntryValue(s.value);
      for (const std::string& w : s.words) {
        writer.WriteWord(nsMarkovian::WordHash(w.data(), w.size()), ascommon::sstring(w.c_str()));
      }
    }
  }
}

}  // namespace tervo_test

#endif  // TERVO_TESTS_TERVO_MODEL_WRITER_H_
