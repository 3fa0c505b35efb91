// The host side of the plug-in contract: load tervo.mdl, get its factory,
// create modules by type name, open sessions, build items, process them and
// read the verdicts back. Tests and the tervo command drive the plug-in
// through this, the way a real host does.
#ifndef TERVO_HOST_PLUGIN_HOST_H_
#define TERVO_HOST_PLUGIN_HOST_H_

#include <stdint.h>

#include <string>

#include "common/blackbox.h"
#include "common/item.h"
#include "src/amodule/amodule.h"
#include "src/class_factory/class_factory.h"
#include "tervo/tervo.h"

namespace tervo_host {

// The loaded plug-in. Unloading releases the factory first.
class Plugin {
 public:
  Plugin() = default;
  ~Plugin() { Unload(); }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // dlopen()s `path` and resolves the three exports. False (and `error` set)
  // when the file does not load or an export is missing.
  bool Load(const std::string& path, std::string* error);
  // Releases the factory and unloads the plug-in.
  void Unload();
  bool loaded() const { return handle_ != nullptr; }

  void Version(uint32_t version[4]) const { get_version_(version); }
  // The plug-in's factory (made on the first call), or null.
  CAClassFactory* Factory() { return get_factory_(); }
  // Destroys the factory with its modules; 0.
  int32_t ReleaseFactory() { return release_factory_(); }

  // The factory's allocator for `type_name`, or null.
  CBasicAllocator* FindAllocator(const char* type_name);
  // Creates a module of `type_name`, appends it to the factory's module array
  // (the factory owns it from then on) and gives it `settings`. Null when the
  // type is unknown or the module cannot be made.
  CAFilter* CreateFilter(const char* type_name, ISettingsProvider* settings);

 private:
  void* handle_ = nullptr;
  GetASVersionFn get_version_ = nullptr;
  GetClassFactoryFn get_factory_ = nullptr;
  ReleaseClassFactoryFn release_factory_ = nullptr;
};

// Opens session `id` on `filter`: makes its session data, enters it with the
// flag IsEnabled gives (under the module's write lock, so items of other
// sessions may be passing through), and applies its settings. Answers
// ApplySessionSettings' status, or -102 when the session data cannot be made,
// -451 when the id is already open.
int32_t OpenSession(CAFilter* filter, uint64_t id);

// One message: its text, second text and the other party's information.
class Item {
 public:
  // Null arguments leave the key out.
  Item(const char* text, const char* aux_text, const char* user_info);
  ~Item();
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;

  ascommon::SItem* get() { return &item_; }
  ascommon::CBlackBox* io() { return item_.io; }
  // Takes the input/output box out of the item (to see how filters treat an
  // item without it).
  void DropIoBox();

  // The verdicts as the host reads them: flags and numbers, or the fallback
  // when the filter did not write the key.
  bool Flag(uint32_t key) { return io() != nullptr && io()->GetBool(key, false); }
  int32_t Number(uint32_t key, int32_t fallback) {
    return io() != nullptr ? io()->GetInt32(key, fallback) : fallback;
  }
  // The text under `key` in the input/output box, or "" when there is none.
  std::string Text(uint32_t key);

 private:
  ascommon::SItem item_;
  // The input/output box, held here rather than allocated: the item points
  // at it until DropIoBox.
  ascommon::CBlackBox io_box_;
};

}  // namespace tervo_host

#endif  // TERVO_HOST_PLUGIN_HOST_H_
