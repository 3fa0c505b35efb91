// The common base of the library's strings and containers.
#ifndef TERVO_COMMON_BBOBJECT_H_
#define TERVO_COMMON_BBOBJECT_H_

namespace ascommon {

class CBlackBoxObject {
 public:
  virtual ~CBlackBoxObject() = default;
};

}  // namespace ascommon

#endif  // TERVO_COMMON_BBOBJECT_H_
