// The host's settings provider: string and integer values per key and
// session, filled from code or from a key=value file.
#ifndef TERVO_HOST_SETTINGS_H_
#define TERVO_HOST_SETTINGS_H_

#include <stdint.h>

#include <map>
#include <string>
#include <utility>

#include "src/amodule/amodule.h"

namespace tervo_host {

class Settings final : public ISettingsProvider {
 public:
  // Values for `session` (0: global). Keys are UTF-8 here; the plug-in asks
  // in UTF-16.
  void SetString(const std::string& key, const std::string& value, uint64_t session = 0);
  void SetInt(const std::string& key, int32_t value, uint64_t session = 0);
  // What AllowsCreate answers for `key` (0 unless set).
  void SetAllowsCreate(const std::string& key, int32_t answer, uint64_t session = 0);
  void Remove(const std::string& key, uint64_t session = 0);
  // The same with the plug-in's UTF-16 key names (tervo/tervo_names.h).
  void SetString(const char16_t* key, const std::string& value, uint64_t session = 0);
  void SetInt(const char16_t* key, int32_t value, uint64_t session = 0);
  void Remove(const char16_t* key, uint64_t session = 0);

  // Reads settings from a text file: one "key=value" per line; "[session N]"
  // starts the values of session N ("[global]" returns to session 0); blank
  // lines and lines starting with '#' are skipped. A value of digits (with an
  // optional leading '-') is stored as both integer and string; "allows-create
  // KEY=N" sets the AllowsCreate answer. Answers false and sets `error` (file
  // and line) on the first bad line; the lines before it stay applied.
  bool LoadFile(const std::string& path, std::string* error);

  int32_t SetStringSetting(const char16_t* key, const char* value, uint64_t session) override;
  int32_t SetIntSetting(const char16_t* key, int32_t value, uint64_t session) override;
  int32_t RemoveSetting(const char16_t* key, uint64_t session) override;
  int32_t AllowsCreate(const char16_t* key, uint64_t session) override;
  int32_t Reload() override { return 0; }
  const char* GetStringSetting(const char16_t* key, uint64_t session) override;
  int32_t GetIntSetting(const char16_t* key, int32_t fallback, uint64_t session) override;

 private:
  typedef std::pair<uint64_t, std::string> Slot;
  std::map<Slot, std::string> strings_;
  std::map<Slot, int32_t> ints_;
  std::map<Slot, int32_t> allows_create_;
};

}  // namespace tervo_host

#endif  // TERVO_HOST_SETTINGS_H_
