#include "host/settings.h"

#include <fstream>

#include "common/utf8.h"

namespace tervo_host {

namespace {

std::string Narrow(const char16_t* key) { return key == nullptr ? "" : ascommon::Utf16ToUtf8(key); }

bool IsInteger(const std::string& text) {
  size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (start == text.size() || text.size() - start > 9) return false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

void Settings::SetString(const std::string& key, const std::string& value, uint64_t session) {
  strings_[{session, key}] = value;
}

void Settings::SetInt(const std::string& key, int32_t value, uint64_t session) {
  ints_[{session, key}] = value;
}

void Settings::SetAllowsCreate(const std::string& key, int32_t answer, uint64_t session) {
  allows_create_[{session, key}] = answer;
}

void Settings::Remove(const std::string& key, uint64_t session) {
  strings_.erase({session, key});
  ints_.erase({session, key});
}

void Settings::SetString(const char16_t* key, const std::string& value, uint64_t session) {
  SetString(Narrow(key), value, session);
}

void Settings::SetInt(const char16_t* key, int32_t value, uint64_t session) {
  SetInt(Narrow(key), value, session);
}

void Settings::Remove(const char16_t* key, uint64_t session) { Remove(Narrow(key), session); }

bool Settings::LoadFile(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot open";
    return false;
  }
  uint64_t session = 0;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (line == "[global]") {
      session = 0;
      continue;
    }
    if (line.rfind("[session ", 0) == 0 && line.back() == ']') {
      std::string id = Trim(line.substr(9, line.size() - 10));
      if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        *error = where + "bad session id";
        return false;
      }
      session = std::stoull(id);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = where + "expected key=value";
      return false;
    }
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (key.rfind("allows-create ", 0) == 0) {
      if (!IsInteger(value)) {
        *error = where + "allows-create needs a number";
        return false;
      }
      SetAllowsCreate(Trim(key.substr(14)), std::stoi(value), session);
      continue;
    }
    SetString(key, value, session);
    if (IsInteger(value)) SetInt(key, std::stoi(value), session);
  }
  return true;
}

int32_t Settings::SetStringSetting(const char16_t* key, const char* value, uint64_t session) {
  if (value == nullptr) return -1;
  SetString(Narrow(key), value, session);
  return 0;
}

int32_t Settings::SetIntSetting(const char16_t* key, int32_t value, uint64_t session) {
  SetInt(Narrow(key), value, session);
  return 0;
}

int32_t Settings::RemoveSetting(const char16_t* key, uint64_t session) {
  Remove(Narrow(key), session);
  return 0;
}

int32_t Settings::AllowsCreate(const char16_t* key, uint64_t session) {
  auto found = allows_create_.find({session, Narrow(key)});
  return found == allows_create_.end() ? 0 : found->second;
}

const char* Settings::GetStringSetting(const char16_t* key, uint64_t session) {
  auto found = strings_.find({session, Narrow(key)});
  return found == strings_.end() ? nullptr : found->second.c_str();
}

int32_t Settings::GetIntSetting(const char16_t* key, int32_t fallback, uint64_t session) {
  auto found = ints_.find({session, Narrow(key)});
  return found == ints_.end() ? fallback : found->second;
}

}  // namespace tervo_host
