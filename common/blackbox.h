// CBlackBox: the keyed, typed property bag through which the host and the
// modules exchange everything about an item. Keys are 32-bit numbers fixed by
// convention (common/item.h); each value is an element carrying its type
// number. The box owns its values, except the pointers of types 7 and 16.
//
// Two faces over one storage: the variadic Set/Get that the host calls, whose
// trailing arguments depend on the type number (see each), and typed members
// for this code base, which the compiler checks.
//
// Every failure is recorded through as_set_err as well as returned:
//   -101 "invalid input"                  unknown type number at Set
//   -102 "memory allocation"              allocation failure at Set
//   -103 "invalid pointer for set"        array Set with a null pointer or an unknown mode
//   -103 "invalid pointer for set unicode"
//   -301 "no element"                     Get found nothing usable
#ifndef TERVO_COMMON_BLACKBOX_H_
#define TERVO_COMMON_BLACKBOX_H_

#include <stdint.h>

#include "common/sstring.h"
#include "common/ustring.h"
#include "src/common/array.h"

namespace ascommon {

class CBlackBox;

namespace blackbox_detail {
template <uint32_t kType>
struct ArrayTraits;
}  // namespace blackbox_detail

// One stored value: its type number and the value object it owns.
struct CBlackBoxElement {
  uint32_t type;
  void* value;
};

class CBlackBox : public CMap<uint32_t, CBlackBoxElement*> {
 public:
  typedef CBlackBoxElement Element;

  // Value type numbers.
  enum Type : uint32_t {
    kBool = 0,           // one byte, 0 or 1; Set takes an int
    kInt32 = 1,          // int32_t
    kUInt32 = 2,         // uint32_t
    kInt64 = 3,          // int64_t
    kDouble = 4,         // double
    kText = 5,           // sstring; Set takes const char*
    kText16 = 6,         // usstring; Set takes const char16_t*
    kPointer = 7,        // void*, not owned
    kUnicodeText = 8,    // sstring + usstring of one text; Set takes UTF-8 const char*
    kCharArray = 9,      // CArray<char, 64>
    kIntArray = 10,      // CArray<int32_t, 64> ("int")
    kLongArray = 11,     // CArray<int32_t, 64> ("long", 32-bit)
    kUInt64Array = 12,   // CArray<uint64_t, 64>
    kDoubleArray = 13,   // CArray<double, 64>
    kTextArray = 14,     // CArray<sstring, 64>; Set takes const char* const*
    kText16Array = 15,   // CArray<usstring, 64>; Set takes const char16_t* const*
    kPointerArray = 16,  // CArray<void*, 64>, pointers not owned
    kUnicodeTextArray = 17,  // a text array and its UTF-16 twin; Set takes UTF-8 texts
    kLastType = 17,
  };

  // The value objects of types 8 and 17.
  struct UnicodeText {
    sstring utf8;
    usstring utf16;
  };
  struct UnicodeTextArray {
    CArray<sstring, 64> utf8;
    CArray<usstring, 64> utf16;
  };

  // An empty box with 64 buckets. Throws std::bad_alloc when the map cannot
  // be built. Hosts that hold a box
  // in an item construct it directly; everyone else uses Create.
  CBlackBox();
  ~CBlackBox() override;
  CBlackBox(const CBlackBox&) = delete;
  CBlackBox& operator=(const CBlackBox&) = delete;

  // A new empty box with 64 buckets, or null (records -102 "Error allocating
  // memory for blackbox"). Free it with Destroy.
  static CBlackBox* Create();
  // Destroys every element and frees the box; null is ignored.
  static void Destroy(CBlackBox* box);
  // A new box with deep copies of every element under the same keys, except
  // types 7 and 16, which are left out. Null when the copy cannot be made.
  static CBlackBox* Clone(const CBlackBox* box);

  // Stores a value under `key`, replacing (and destroying) any value there.
  // The trailing arguments by type:
  //   0: int;  1: int32_t;  2: uint32_t;  3: int64_t;  4: double;
  //   5: const char*;  6: const char16_t*;  7: void*;  8: const char* (UTF-8);
  //   9-16, 17, mode 0: const E* items, uint64_t count, E being char, int32_t,
  //     int32_t, uint64_t, double, const char*, const char16_t*, void*,
  //     const char* (UTF-8);
  //   9-17, mode 1: const CArray<...>* of the same kind (17: of sstring).
  // Answers 0 or the recorded error code.
  static int32_t Set(CBlackBox* box, uint32_t key, uint32_t type, uint32_t mode, ...);

  // Reads a value. Answers a pointer, or null after recording -301 "no
  // element". The trailing arguments and the answer by type:
  //   0-4 (T* dest, T def), T as in Set but uint8_t* dest for type 0: with
  //     an element of exactly that type, copies it to `dest` and answers
  //     `dest`, or without `dest` answers the stored cell; with none, writes
  //     `def` to `dest` (type 0: 1 when def is not 0) and answers `dest`, or
  //     fails.
  //   5, 6 (const char** / const char16_t** out, may be null): type 5 accepts
  //     elements of types 5 and 8, type 6 of 6 and 8. Mode 0 answers the text
  //     pointer (also written to `out`), mode 1 the string object. `out` gets
  //     null on failure.
  //   7: the stored pointer.  8: the UTF-16 text of the pair.
  //   9-16 (E* buffer, uint64_t* count): mode 1 answers the array object; mode
  //     0 with a buffer copies min(array count, *count) elements (texts'
  //     pointers for 14 and 15) and sets *count to the number copied, answering
  //     the buffer; without a buffer sets *count to the array's count and
  //     answers `count`. Types 14 and 15 also read the two arrays of a type-17
  //     element.
  //   17: mode 1 answers the UTF-16 array; mode 0 copies its text pointers as
  //     above.
  // A scalar cell or text answered without copying stays owned by the box.
  static void* Get(CBlackBox* box, uint32_t key, uint32_t type, uint32_t mode, ...);

  // Stores the UTF-8 text (type 8) or texts (type 17) with their UTF-16 form.
  // Null input records -103 "invalid pointer for set unicode"; ill-formed UTF-8
  // records the converter's code with "invalid UTF-8 for set unicode".
  static int32_t SetUnicode(CBlackBox* box, uint32_t key, const char* utf8);
  static int32_t SetUnicodeArray(CBlackBox* box, uint32_t key, const char* const* utf8,
                                 uint64_t count);

  // Typed face. Setters answer as Set; scalar getters answer the stored value
  // of exactly that type, else `def` (and record nothing).
  int32_t SetBool(uint32_t key, bool value);
  int32_t SetInt32(uint32_t key, int32_t value);
  int32_t SetUInt32(uint32_t key, uint32_t value);
  int32_t SetInt64(uint32_t key, int64_t value);
  int32_t SetDouble(uint32_t key, double value);
  int32_t SetText(uint32_t key, const char* text);
  int32_t SetText16(uint32_t key, const char16_t* text);
  int32_t SetPointer(uint32_t key, void* pointer);

  bool GetBool(uint32_t key, bool def);
  int32_t GetInt32(uint32_t key, int32_t def);
  uint32_t GetUInt32(uint32_t key, uint32_t def);
  int64_t GetInt64(uint32_t key, int64_t def);
  double GetDouble(uint32_t key, double def);
  // The text of a type-5 or type-8 element, or null (records -301).
  const sstring* GetText(uint32_t key);
  // The text of a type-6 or type-8 element, or null (records -301).
  const usstring* GetText16(uint32_t key);
  // The pointer of a type-7 element, or null (records -301).
  void* GetPointer(uint32_t key);

  // Arrays, kType from 9 to 16: SetArray<kTextArray>(key, texts, n) and so on.
  template <uint32_t kType>
  int32_t SetArray(uint32_t key, const typename blackbox_detail::ArrayTraits<kType>::Input* items,
                   uint64_t count);
  // The array of a kType element (types 14 and 15 also read type 17), or null
  // (records -301).
  template <uint32_t kType>
  const typename blackbox_detail::ArrayTraits<kType>::Array* GetArray(uint32_t key);

  // The element under `key`, or null.
  Element* Find(uint32_t key);

  // Wraps `value`, a value object of `type` made by the allocation wrappers,
  // in an element and stores it under `key`, replacing any element there. The
  // box owns `value` from here on, also on failure (-102, recorded).
  int32_t StoreValue(uint32_t key, uint32_t type, void* value);
  // The array object of a kType element (9 to 16; 14 and 15 also read type
  // 17), or null after recording -301.
  const void* FindArray(uint32_t key, uint32_t type);

 private:
  int32_t SetArrayFrom(uint32_t key, uint32_t type, const void* items, uint64_t count);
};

namespace blackbox_detail {
template <class A, class I>
struct ArrayOf {
  typedef A Array;
  typedef I Input;
};
template <> struct ArrayTraits<CBlackBox::kCharArray> : ArrayOf<CArray<char, 64>, char> {};
template <> struct ArrayTraits<CBlackBox::kIntArray> : ArrayOf<CArray<int32_t, 64>, int32_t> {};
template <> struct ArrayTraits<CBlackBox::kLongArray> : ArrayOf<CArray<int32_t, 64>, int32_t> {};
template <> struct ArrayTraits<CBlackBox::kUInt64Array> : ArrayOf<CArray<uint64_t, 64>, uint64_t> {};
template <> struct ArrayTraits<CBlackBox::kDoubleArray> : ArrayOf<CArray<double, 64>, double> {};
template <> struct ArrayTraits<CBlackBox::kTextArray> : ArrayOf<CArray<sstring, 64>, const char*> {};
template <> struct ArrayTraits<CBlackBox::kText16Array>
    : ArrayOf<CArray<usstring, 64>, const char16_t*> {};
template <> struct ArrayTraits<CBlackBox::kPointerArray> : ArrayOf<CArray<void*, 64>, void*> {};
}  // namespace blackbox_detail

template <uint32_t kType>
int32_t CBlackBox::SetArray(uint32_t key,
                            const typename blackbox_detail::ArrayTraits<kType>::Input* items,
                            uint64_t count) {
  return SetArrayFrom(key, kType, items, count);
}

template <uint32_t kType>
const typename blackbox_detail::ArrayTraits<kType>::Array* CBlackBox::GetArray(uint32_t key) {
  return static_cast<const typename blackbox_detail::ArrayTraits<kType>::Array*>(
      FindArray(key, kType));
}

}  // namespace ascommon

#endif  // TERVO_COMMON_BLACKBOX_H_
