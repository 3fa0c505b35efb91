// Writers of the data files the filters load, for the tests, benchmarks and
// fuzz targets: each writes a whole container at `path` the way
// `tervo compile` does, its work folder the file's own folder. They raise what
// the streamer raises.
#ifndef TERVO_TESTS_SUPPORT_DATA_FILES_H_
#define TERVO_TESTS_SUPPORT_DATA_FILES_H_

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "src/engines/wordsheur/imwords_format.h"

namespace tervo_test {

// A container of `version` whose payload `write` fills.
void WriteDataFile(const std::string& path, uint32_t version,
                   const std::function<void(ascommon::IStreamer*)>& write);

// A container holding the `size` bytes at `data` as its payload, as they are.
void WriteRawDataFile(const std::string& path, uint32_t version, const void* data, size_t size);

void WriteWordsFile(const std::string& path,
                    const std::vector<nsWordsHeur::WordsCategory>& categories);
void WriteMarkovianFile(const std::string& path,
                        const std::vector<nsMarkovian::MarkovianClass>& classes);
void WriteBlacklistFile(const std::string& path, const nsUrlDb2::BlacklistKeys& keys);
// A blacklist whose url table holds the digest key of each of `users`.
void WriteBlacklistFile(const std::string& path, const std::vector<std::string>& users);

}  // namespace tervo_test

#endif  // TERVO_TESTS_SUPPORT_DATA_FILES_H_
