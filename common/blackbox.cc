#include "common/blackbox.h"

#include <stdarg.h>
#include <string.h>

#include "common/asalloc.h"
#include "common/utf8.h"
#include "platform/morvel/morvel.h"

namespace ascommon {

namespace {

typedef CBlackBox BB;

// Calls f(T*) with the value object of an element of `type` (T is the
// object's class); does nothing for type 7, which owns no object.
template <class F>
void WithValue(uint32_t type, void* value, F&& f) {
  switch (type) {
    case BB::kBool: f(static_cast<uint8_t*>(value)); break;
    case BB::kInt32: f(static_cast<int32_t*>(value)); break;
    case BB::kUInt32: f(static_cast<uint32_t*>(value)); break;
    case BB::kInt64: f(static_cast<int64_t*>(value)); break;
    case BB::kDouble: f(static_cast<double*>(value)); break;
    case BB::kText: f(static_cast<sstring*>(value)); break;
    case BB::kText16: f(static_cast<usstring*>(value)); break;
    case BB::kUnicodeText: f(static_cast<BB::UnicodeText*>(value)); break;
    case BB::kCharArray: f(static_cast<CArray<char, 64>*>(value)); break;
    case BB::kIntArray:
    case BB::kLongArray: f(static_cast<CArray<int32_t, 64>*>(value)); break;
    case BB::kUInt64Array: f(static_cast<CArray<uint64_t, 64>*>(value)); break;
    case BB::kDoubleArray: f(static_cast<CArray<double, 64>*>(value)); break;
    case BB::kTextArray: f(static_cast<CArray<sstring, 64>*>(value)); break;
    case BB::kText16Array: f(static_cast<CArray<usstring, 64>*>(value)); break;
    case BB::kPointerArray: f(static_cast<CArray<void*, 64>*>(value)); break;
    case BB::kUnicodeTextArray: f(static_cast<BB::UnicodeTextArray*>(value)); break;
    default: break;
  }
}

void DestroyValue(uint32_t type, void* value) {
  WithValue(type, value, [](auto* object) { Delete(object); });
}

void DestroyElement(BB::Element* element) {
  DestroyValue(element->type, element->value);
  Delete(element);
}

// Whether a copied value came out whole (strings report failed allocations
// through their error field).
template <class T>
bool Whole(const T&) {
  return true;
}
bool Whole(const sstring& s) { return s.error() == 0; }
bool Whole(const usstring& s) { return s.error() == 0; }

template <class T>
bool CopyValue(T& to, const T& from) {
  to = from;
  return Whole(to);
}

template <class T>
bool CopyValue(CArray<T, 64>& to, const CArray<T, 64>& from) {
  for (const T& item : from) {
    if (to.Add(item) != 0 || !Whole(to[to.GetCount() - 1])) return false;
  }
  return true;
}

bool CopyValue(BB::UnicodeText& to, const BB::UnicodeText& from) {
  return CopyValue(to.utf8, from.utf8) && CopyValue(to.utf16, from.utf16);
}

bool CopyValue(BB::UnicodeTextArray& to, const BB::UnicodeTextArray& from) {
  return CopyValue(to.utf8, from.utf8) && CopyValue(to.utf16, from.utf16);
}

// A new copy of an element's value object, or null.
void* CloneValue(uint32_t type, void* value) {
  void* copy = nullptr;
  WithValue(type, value, [&copy, type](auto* object) {
    typedef std::remove_pointer_t<decltype(object)> T;
    T* fresh = NewNoThrow<T>();
    if (fresh == nullptr) return;
    if (!CopyValue(*fresh, *object)) {
      DestroyValue(type, fresh);
      return;
    }
    copy = fresh;
  });
  return copy;
}

// Builds the UTF-8/UTF-16 pair of one text; false when either form fails.
bool MakeUnicode(const char* utf8, sstring* narrow, usstring* wide, int32_t* code) {
  *code = Utf8ToUsstring(utf8, strlen(utf8), wide);
  if (*code != 0) return false;
  narrow->assign(utf8);
  if (narrow->error() != 0) *code = -102;
  return *code == 0;
}

// Fills `array` from `count` items: scalars and pointers as they are, texts
// into new strings (a null text gives a null string).
template <class T, class I>
bool FillArray(CArray<T, 64>* array, const I* items, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    if (array->Add(T(items[i])) != 0 || !Whole((*array)[i])) return false;
  }
  return true;
}

// What Get hands out for one array element: the value, or a text's pointer.
template <class T>
T OutValue(const T& item) {
  return item;
}
const char* OutValue(const sstring& item) { return item.data(); }
const char16_t* OutValue(const usstring& item) { return item.data(); }

// Mode 0 of an array Get (see the header).
template <class T>
void* CopyOut(const CArray<T, 64>& array, void* buffer, uint64_t* count) {
  if (count == nullptr) return nullptr;
  if (buffer == nullptr) {
    *count = array.GetCount();
    return count;
  }
  typedef decltype(OutValue(array[0])) Out;
  Out* out = static_cast<Out*>(buffer);
  const uint64_t n = array.GetCount() < *count ? array.GetCount() : *count;
  for (uint64_t i = 0; i < n; ++i) out[i] = OutValue(array[i]);
  *count = n;
  return buffer;
}

}  // namespace

// Built with its 64 chains at once: a box is made for every item, and
// re-hashing from the map's default 32 cost two more allocations and frees.
CBlackBox::CBlackBox() : CMap(64, nullptr) {}

CBlackBox::~CBlackBox() {
  // The walk stops at the last element instead of visiting every empty chain
  // after it; the map's own destructor frees the nodes.
  uint32_t left = GetCount();
  if (left == 0) return;
  for (auto it = begin();; ++it) {
    DestroyElement(it->value);
    if (--left == 0) break;
  }
}

CBlackBox* CBlackBox::Create() {
  CBlackBox* box = nullptr;
  try {
    box = NewNoThrow<CBlackBox>();
  } catch (const std::bad_alloc&) {
    box = nullptr;
  }
  if (box == nullptr) as_set_err(-102, "Error allocating memory for blackbox");
  return box;
}

void CBlackBox::Destroy(CBlackBox* box) { Delete(box); }

CBlackBox* CBlackBox::Clone(const CBlackBox* box) {
  if (box == nullptr) return nullptr;
  CBlackBox* copy = Create();
  if (copy == nullptr) return nullptr;
  for (auto& node : *const_cast<CBlackBox*>(box)) {
    const Element* element = node.value;
    if (element->type == kPointer || element->type == kPointerArray) continue;
    void* value = CloneValue(element->type, element->value);
    if (value == nullptr || copy->StoreValue(node.key, element->type, value) != 0) {
      Destroy(copy);
      return nullptr;
    }
  }
  return copy;
}

CBlackBox::Element* CBlackBox::Find(uint32_t key) {
  Element** slot = Lookup(key);
  return slot == nullptr ? nullptr : *slot;
}

int32_t CBlackBox::StoreValue(uint32_t key, uint32_t type, void* value) {
  Element* element = NewNoThrow<Element>(Element{type, value});
  if (element == nullptr) {
    DestroyValue(type, value);
    return as_set_err(-102, "memory allocation");
  }
  if (Element** slot = Lookup(key)) {
    DestroyElement(*slot);
    *slot = element;
    return 0;
  }
  if (Insert(key, element) != 0) {
    DestroyElement(element);
    return as_set_err(-102, "memory allocation");
  }
  return 0;
}

namespace {

// Builds a value object of class T with `fill`; answers null on failure.
template <class T, class F>
T* Build(F&& fill) {
  T* object = NewNoThrow<T>();
  if (object != nullptr && !fill(*object)) {
    Delete(object);
    return nullptr;
  }
  return object;
}

}  // namespace

int32_t CBlackBox::SetArrayFrom(uint32_t key, uint32_t type, const void* items, uint64_t count) {
  if (items == nullptr) return as_set_err(-103, "invalid pointer for set");
  void* value = nullptr;
  WithValue(type, nullptr, [&](auto* typed_null) {
    typedef std::remove_pointer_t<decltype(typed_null)> A;
    if constexpr (requires(A a) { a.GetCount(); }) {
      value = Build<A>([&](A& array) {
        if constexpr (std::is_same_v<A, CArray<sstring, 64>>) {
          return FillArray(&array, static_cast<const char* const*>(items), count);
        } else if constexpr (std::is_same_v<A, CArray<usstring, 64>>) {
          return FillArray(&array, static_cast<const char16_t* const*>(items), count);
        } else {
          typedef std::remove_cvref_t<decltype(array[0])> E;
          return FillArray(&array, static_cast<const E*>(items), count);
        }
      });
    }
  });
  if (value == nullptr) return as_set_err(-102, "memory allocation");
  return StoreValue(key, type, value);
}

int32_t CBlackBox::SetUnicode(CBlackBox* box, uint32_t key, const char* utf8) {
  if (box == nullptr || utf8 == nullptr) {
    return as_set_err(-103, "invalid pointer for set unicode");
  }
  int32_t code = 0;
  UnicodeText* pair = Build<UnicodeText>(
      [&](UnicodeText& p) { return MakeUnicode(utf8, &p.utf8, &p.utf16, &code); });
  if (pair == nullptr) {
    if (code == 0 || code == -2 || code == -102) return as_set_err(-102, "memory allocation");
    return as_set_err(code, "invalid UTF-8 for set unicode");
  }
  return box->StoreValue(key, kUnicodeText, pair);
}

int32_t CBlackBox::SetUnicodeArray(CBlackBox* box, uint32_t key, const char* const* utf8,
                                   uint64_t count) {
  if (box == nullptr || utf8 == nullptr) {
    return as_set_err(-103, "invalid pointer for set unicode");
  }
  int32_t code = 0;
  UnicodeTextArray* pair = Build<UnicodeTextArray>([&](UnicodeTextArray& p) {
    for (uint64_t i = 0; i < count; ++i) {
      sstring narrow;
      usstring wide;
      if (utf8[i] == nullptr) {
        code = -103;
        return false;
      }
      if (!MakeUnicode(utf8[i], &narrow, &wide, &code)) return false;
      if (p.utf8.Add(narrow) != 0 || p.utf16.Add(wide) != 0 || !Whole(p.utf8[i]) ||
          !Whole(p.utf16[i])) {
        code = -102;
        return false;
      }
    }
    return true;
  });
  if (pair == nullptr) {
    if (code == -103) return as_set_err(-103, "invalid pointer for set unicode");
    if (code == 0 || code == -2 || code == -102) return as_set_err(-102, "memory allocation");
    return as_set_err(code, "invalid UTF-8 for set unicode");
  }
  return box->StoreValue(key, kUnicodeTextArray, pair);
}

namespace {

// Mode 1 of a type-17 Set: the UTF-8 texts come as an array of strings.
int32_t SetUnicodeFromTexts(CBlackBox* box, uint32_t key, const CArray<sstring, 64>& texts) {
  static const char* const kNoTexts[1] = {nullptr};
  CArray<const char*, 64> pointers;
  for (const sstring& text : texts) {
    if (pointers.Add(text.data()) != 0) return as_set_err(-102, "memory allocation");
  }
  const char* const* items = pointers.GetCount() > 0 ? pointers.GetData() : kNoTexts;
  return CBlackBox::SetUnicodeArray(box, key, items, pointers.GetCount());
}

}  // namespace

int32_t CBlackBox::Set(CBlackBox* box, uint32_t key, uint32_t type, uint32_t mode, ...) {
  if (type > kLastType) return as_set_err(-101, "invalid input");
  if (box == nullptr) return as_set_err(-103, "invalid pointer for set");
  va_list args;
  va_start(args, mode);
  int32_t rc = 0;
  switch (type) {
    case kBool: rc = box->SetBool(key, va_arg(args, int) != 0); break;
    case kInt32: rc = box->SetInt32(key, va_arg(args, int32_t)); break;
    case kUInt32: rc = box->SetUInt32(key, va_arg(args, uint32_t)); break;
    case kInt64: rc = box->SetInt64(key, va_arg(args, int64_t)); break;
    case kDouble: rc = box->SetDouble(key, va_arg(args, double)); break;
    case kText: rc = box->SetText(key, va_arg(args, const char*)); break;
    case kText16: rc = box->SetText16(key, va_arg(args, const char16_t*)); break;
    case kPointer: rc = box->SetPointer(key, va_arg(args, void*)); break;
    case kUnicodeText: rc = SetUnicode(box, key, va_arg(args, const char*)); break;
    default: {
      const void* items = va_arg(args, const void*);
      if (mode == 0) {
        uint64_t count = va_arg(args, uint64_t);
        rc = type == kUnicodeTextArray
                 ? SetUnicodeArray(box, key, static_cast<const char* const*>(items), count)
                 : box->SetArrayFrom(key, type, items, count);
      } else if (mode == 1 && items != nullptr) {
        if (type == kUnicodeTextArray) {
          rc = SetUnicodeFromTexts(box, key, *static_cast<const CArray<sstring, 64>*>(items));
        } else {
          void* copy = CloneValue(type, const_cast<void*>(items));
          rc = copy == nullptr ? as_set_err(-102, "memory allocation")
                               : box->StoreValue(key, type, copy);
        }
      } else {
        rc = as_set_err(-103, "invalid pointer for set");
      }
      break;
    }
  }
  va_end(args);
  return rc;
}

namespace {

void* NoElement() {
  as_set_err(-301, "no element");
  return nullptr;
}

// Get of the scalar types: `dest` and `def` come from the caller.
template <class T>
void* GetScalar(const BB::Element* element, uint32_t type, T* dest, T def) {
  if (element != nullptr && element->type == type) {
    T* cell = static_cast<T*>(element->value);
    if (dest == nullptr) return cell;
    *dest = *cell;
    return dest;
  }
  if (dest == nullptr) return NoElement();
  *dest = def;
  return dest;
}

// Get of types 5 and 6, which also read the two forms of a type-8 pair.
void* GetTextOf(const BB::Element* element, uint32_t type, uint32_t mode, void** out) {
  const void* object = nullptr;
  const void* text = nullptr;
  if (element != nullptr && (element->type == type || element->type == BB::kUnicodeText)) {
    auto* pair = static_cast<BB::UnicodeText*>(element->value);
    if (type == BB::kText) {
      auto* s = element->type == type ? static_cast<sstring*>(element->value) : &pair->utf8;
      object = s;
      text = s->data();
    } else {
      auto* s = element->type == type ? static_cast<usstring*>(element->value) : &pair->utf16;
      object = s;
      text = s->data();
    }
  }
  if (object == nullptr || mode > 1) {
    if (out != nullptr) *out = nullptr;
    return NoElement();
  }
  if (out != nullptr) *out = const_cast<void*>(text);
  return const_cast<void*>(mode == 0 ? text : object);
}

}  // namespace

const void* CBlackBox::FindArray(uint32_t key, uint32_t type) {
  const Element* element = Find(key);
  if (element != nullptr && element->type == type) return element->value;
  if (element != nullptr && element->type == kUnicodeTextArray) {
    auto* pair = static_cast<UnicodeTextArray*>(element->value);
    if (type == kTextArray) return &pair->utf8;
    if (type == kText16Array) return &pair->utf16;
  }
  NoElement();
  return nullptr;
}

namespace {

// Get of types 9 to 17 (see the header).
void* GetArrayOf(CBlackBox* box, uint32_t key, uint32_t type, uint32_t mode, void* buffer,
               uint64_t* count) {
  // Type 17 answers its UTF-16 array, which has the shape of type 15.
  const uint32_t shape = type == BB::kUnicodeTextArray ? BB::kText16Array : type;
  const void* array = nullptr;
  if (type == BB::kUnicodeTextArray) {
    const BB::Element* element = box->Find(key);
    if (element == nullptr || element->type != type) return NoElement();
    array = &static_cast<BB::UnicodeTextArray*>(element->value)->utf16;
  } else {
    array = box->FindArray(key, type);
    if (array == nullptr) return nullptr;
  }
  if (mode == 1) return const_cast<void*>(array);
  if (mode != 0) return NoElement();
  void* result = nullptr;
  WithValue(shape, const_cast<void*>(array), [&](auto* object) {
    if constexpr (requires { object->GetCount(); }) result = CopyOut(*object, buffer, count);
  });
  return result != nullptr ? result : NoElement();
}

}  // namespace

void* CBlackBox::Get(CBlackBox* box, uint32_t key, uint32_t type, uint32_t mode, ...) {
  if (box == nullptr || type > kLastType) return NoElement();
  const Element* element = box->Find(key);
  va_list args;
  va_start(args, mode);
  void* result = nullptr;
  switch (type) {
    case kBool: {
      auto* dest = va_arg(args, uint8_t*);
      result = GetScalar<uint8_t>(element, type, dest, va_arg(args, int) != 0 ? 1 : 0);
      break;
    }
    case kInt32: {
      auto* dest = va_arg(args, int32_t*);
      result = GetScalar<int32_t>(element, type, dest, va_arg(args, int32_t));
      break;
    }
    case kUInt32: {
      auto* dest = va_arg(args, uint32_t*);
      result = GetScalar<uint32_t>(element, type, dest, va_arg(args, uint32_t));
      break;
    }
    case kInt64: {
      auto* dest = va_arg(args, int64_t*);
      result = GetScalar<int64_t>(element, type, dest, va_arg(args, int64_t));
      break;
    }
    case kDouble: {
      auto* dest = va_arg(args, double*);
      result = GetScalar<double>(element, type, dest, va_arg(args, double));
      break;
    }
    case kText:
    case kText16:
      result = GetTextOf(element, type, mode, va_arg(args, void**));
      break;
    case kPointer:
      result = element != nullptr && element->type == kPointer ? element->value : NoElement();
      break;
    case kUnicodeText:
      result = element != nullptr && element->type == kUnicodeText
                   ? static_cast<void*>(const_cast<char16_t*>(
                         static_cast<UnicodeText*>(element->value)->utf16.data()))
                   : NoElement();
      break;
    default: {
      void* buffer = va_arg(args, void*);
      result = GetArrayOf(box, key, type, mode, buffer, va_arg(args, uint64_t*));
      break;
    }
  }
  va_end(args);
  return result;
}

namespace {

template <class T>
int32_t StoreCell(CBlackBox* box, uint32_t key, uint32_t type, T value) {
  T* cell = NewNoThrow<T>(value);
  return cell == nullptr ? as_set_err(-102, "memory allocation") : box->StoreValue(key, type, cell);
}

template <class S, class C>
int32_t StoreString(CBlackBox* box, uint32_t key, uint32_t type, const C* text) {
  S* s = NewNoThrow<S>(text);
  if (s == nullptr || s->error() != 0) {
    Delete(s);
    return as_set_err(-102, "memory allocation");
  }
  return box->StoreValue(key, type, s);
}

// The cell of a scalar element of exactly `type`, or null.
template <class T>
const T* FindCell(CBlackBox* box, uint32_t key, uint32_t type) {
  const BB::Element* element = box->Find(key);
  return element != nullptr && element->type == type ? static_cast<const T*>(element->value)
                                                     : nullptr;
}

}  // namespace

int32_t CBlackBox::SetBool(uint32_t key, bool value) {
  return StoreCell<uint8_t>(this, key, kBool, value ? 1 : 0);
}
int32_t CBlackBox::SetInt32(uint32_t key, int32_t value) {
  return StoreCell(this, key, kInt32, value);
}
int32_t CBlackBox::SetUInt32(uint32_t key, uint32_t value) {
  return StoreCell(this, key, kUInt32, value);
}
int32_t CBlackBox::SetInt64(uint32_t key, int64_t value) {
  return StoreCell(this, key, kInt64, value);
}
int32_t CBlackBox::SetDouble(uint32_t key, double value) {
  return StoreCell(this, key, kDouble, value);
}
int32_t CBlackBox::SetText(uint32_t key, const char* text) {
  return StoreString<sstring>(this, key, kText, text);
}
int32_t CBlackBox::SetText16(uint32_t key, const char16_t* text) {
  return StoreString<usstring>(this, key, kText16, text);
}
int32_t CBlackBox::SetPointer(uint32_t key, void* pointer) {
  return StoreValue(key, kPointer, pointer);
}

bool CBlackBox::GetBool(uint32_t key, bool def) {
  const uint8_t* cell = FindCell<uint8_t>(this, key, kBool);
  return cell != nullptr ? *cell != 0 : def;
}
int32_t CBlackBox::GetInt32(uint32_t key, int32_t def) {
  const int32_t* cell = FindCell<int32_t>(this, key, kInt32);
  return cell != nullptr ? *cell : def;
}
uint32_t CBlackBox::GetUInt32(uint32_t key, uint32_t def) {
  const uint32_t* cell = FindCell<uint32_t>(this, key, kUInt32);
  return cell != nullptr ? *cell : def;
}
int64_t CBlackBox::GetInt64(uint32_t key, int64_t def) {
  const int64_t* cell = FindCell<int64_t>(this, key, kInt64);
  return cell != nullptr ? *cell : def;
}
double CBlackBox::GetDouble(uint32_t key, double def) {
  const double* cell = FindCell<double>(this, key, kDouble);
  return cell != nullptr ? *cell : def;
}

const sstring* CBlackBox::GetText(uint32_t key) {
  return static_cast<const sstring*>(GetTextOf(Find(key), kText, 1, nullptr));
}
const usstring* CBlackBox::GetText16(uint32_t key) {
  return static_cast<const usstring*>(GetTextOf(Find(key), kText16, 1, nullptr));
}
void* CBlackBox::GetPointer(uint32_t key) {
  const Element* element = Find(key);
  return element != nullptr && element->type == kPointer ? element->value : NoElement();
}

}  // namespace ascommon
