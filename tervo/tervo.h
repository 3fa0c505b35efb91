// The plug-in's exported entry points, as a host declares them (resolve them
// with dlsym on tervo.mdl).
#ifndef TERVO_TERVO_TERVO_H_
#define TERVO_TERVO_TERVO_H_

#include <stdint.h>

class CAClassFactory;

extern "C" {
// Writes 2, 13, 1, 14950 (major, minor, build, revision).
typedef void (*GetASVersionFn)(uint32_t version[4]);
// The one factory, made on the first call; null when it cannot be allocated.
typedef CAClassFactory* (*GetClassFactoryFn)();
// Shuts down and destroys every module of the factory, then the factory.
// Always 0.
typedef int32_t (*ReleaseClassFactoryFn)();
}

#endif  // TERVO_TERVO_TERVO_H_
