// The item that the host passes through the filters, and the black-box keys
// that host and modules agree on. Host and plug-in both include this header.
#ifndef TERVO_COMMON_ITEM_H_
#define TERVO_COMMON_ITEM_H_

#include <stdint.h>

#include "common/blackbox.h"

namespace ascommon {

// The age category of the protected user, which selects the thresholds of
// the IM filters.
typedef int32_t AgeCategory;
inline constexpr AgeCategory kAgeAdult = 0;
inline constexpr AgeCategory kAgeTeen = 1;
inline constexpr AgeCategory kAgeChild = 2;
// The factor the words and Markovian filters scale thresholds by per age.
inline constexpr float AgeFactor(AgeCategory age) {
  return age == kAgeChild ? 1.0f : age == kAgeTeen ? 0.8f : 0.0f;
}

// Keys of an instant-message item. Input black box:
constexpr uint32_t IM_TEXT_KEY = 40002;      // type 5: the message text
constexpr uint32_t IM_AUX_TEXT_KEY = 40003;  // type 5: the second form of the text
// Input/output black box:
constexpr uint32_t IM_USER_INFO_KEY = 22002;        // type 5: the other party
constexpr uint32_t IM_WORDS_VERDICT_KEY = 41010;    // type 1: words score, or -1
constexpr uint32_t IM_BLACKLIST_FLAG_KEY = 41011;   // type 0: 1 when blacklisted
constexpr uint32_t IM_SIGN_FLAG_KEY = 41013;        // type 0: 1 when a signature fired
constexpr uint32_t IM_SIGN_SCORE_KEY = 41014;       // type 1: the signature's score
constexpr uint32_t IM_MARKOVIAN_FLAG_KEY = 41015;   // type 0: 1 when a class fired
constexpr uint32_t IM_MARKOVIAN_VALUE_KEY = 41016;  // type 1: 0
constexpr uint32_t IM_MARKOVIAN_TEXT_KEY = 41017;   // type 5: the class that fired

// Keys of a mail item's black box (type 7).
constexpr uint32_t EML_HEADERS_KEY = 20001;     // the header map
constexpr uint32_t EML_PARTS_TREE_KEY = 20002;  // the parts tree

// Keys of an HTTP item's black box.
constexpr uint32_t HTTP_PARSED_UTF8_KEY = 30002;    // type 5: parsed HTML, UTF-8
constexpr uint32_t HTTP_RAW_UTF8_KEY = 30005;       // type 5: raw content, UTF-8
constexpr uint32_t HTTP_ITEM_SIZE_KEY = 30006;      // type 1: item size in bytes
constexpr uint32_t HTTP_HTML_PARSER_KEY = 30007;    // type 7: the HTML parser
constexpr uint32_t HTTP_PARSED_UTF8_2_KEY = 30010;  // type 5: parsed HTML, second form
constexpr uint32_t HTTP_RAW_UTF8_2_KEY = 30011;     // type 5: raw content, second form
constexpr uint32_t HTTP_URL_INFO_KEY = 30012;       // type 7: URL information
constexpr uint32_t HTTP_HASH_TABLE_KEY = 30013;     // type 7: hash table
// Optional HTTP values (type 5, may be absent).
constexpr uint32_t HTTP_OPTIONAL_KEYS[] = {30020, 30024, 30022, 30025};

// One item. The two leading fields are the host's; the modules read the input
// box and write their verdicts into the input/output box.
struct SItem {
  uint64_t host_field_0 = 0;
  uint64_t host_field_1 = 0;
  CBlackBox input;                 // the item's inputs (IM_TEXT_KEY, IM_AUX_TEXT_KEY)
  CBlackBox* io = nullptr;         // per-item context and verdicts; owned by the host
};

}  // namespace ascommon

#endif  // TERVO_COMMON_ITEM_H_
