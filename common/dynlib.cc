#include "common/dynlib.h"

#include <dlfcn.h>
#include <strings.h>

#include <string>

namespace ascommon {

namespace {

// The folder (with a trailing '/') of the object file that holds this code.
std::string ThisModuleFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ThisModuleFolder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* Open(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void* LoadDynLib(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  std::string path = name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string file = path.substr(folder.size());

  bool is_dll = file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".dll") == 0;
  if (is_dll) {
    std::string stem = file.substr(0, file.size() - 4);
    if (strcasecmp(stem.c_str(), "iconv") == 0) return Open("libc.so.6");
    std::string so = "lib" + stem + ".so";
    void* lib = nullptr;
    if (!folder.empty()) {
      lib = Open(folder + so);
    } else {
      std::string here = ThisModuleFolder();
      if (!here.empty()) lib = Open(here + so);
      if (lib == nullptr) lib = Open(so);
    }
    if (lib != nullptr) return lib;
  } else if (folder.empty()) {
    std::string here = ThisModuleFolder();
    if (!here.empty()) {
      if (void* lib = Open(here + file)) return lib;
    }
  }
  return Open(path);
}

void* GetDynLibSymbol(void* lib, const char* symbol) {
  if (lib == nullptr || symbol == nullptr) return nullptr;
  return dlsym(lib, symbol);
}

bool FreeDynLib(void* lib) {
  return lib == nullptr || dlclose(lib) == 0;
}

const char* DynLibError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown error";
}

}  // namespace ascommon
