// The module factory: one allocator per module type, and the modules the host
// created through them. The host walks `allocators` to find a type by name,
// calls CreateModule and appends the module to `modules`, so that releasing
// the factory shuts the module down and destroys it.
#ifndef TERVO_SRC_CLASS_FACTORY_CLASS_FACTORY_H_
#define TERVO_SRC_CLASS_FACTORY_CLASS_FACTORY_H_

#include <new>

#include "common/asalloc.h"
#include "common/sstring.h"
#include "platform/morvel/morvel.h"
#include "src/amodule/amodule.h"
#include "src/common/array.h"
#include "src/trace/trace.h"

class CBasicAllocator {
 public:
  // A new module of this allocator's type (owned by the caller), or null.
  virtual CAModule* CreateModule() = 0;
  // The type name under which the host asks for this allocator.
  virtual const ascommon::sstring* GetName() = 0;
  virtual ~CBasicAllocator() = default;
};

// The allocator of filter class T.
template <class T>
class TAllocator : public CBasicAllocator {
 public:
  explicit TAllocator(const char* type_name) : name_(type_name) {}

  // Builds a T named after this allocator, marks it initialised and gives it
  // its shared data (a module without shared data is still answered; the
  // failure is recorded as -102).
  CAModule* CreateModule() override {
    AS_LOG(0, 70, "VELDR: Creating new module: [%s]", name_.c_str());
    T* module = nullptr;
    try {
      module = ascommon::New<T>(name_);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    module->PrepareSharedData();
    return module;
  }
  const ascommon::sstring* GetName() override { return &name_; }

 private:
  ascommon::sstring name_;
};

class CAClassFactory {
 public:
  CAClassFactory() = default;
  // Frees the storage of both arrays (the entries are the subclass's).
  virtual ~CAClassFactory() = default;

  ascommon::CArray<CBasicAllocator*, 64> allocators;
  ascommon::CArray<CAModule*, 64> modules;
};

#endif  // TERVO_SRC_CLASS_FACTORY_CLASS_FACTORY_H_
