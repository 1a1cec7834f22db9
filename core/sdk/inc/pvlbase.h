// Identifiers and the root interface of every framework object.
//
// Every interface is a C++ class whose first three virtual operations are
// AddRef, Release and QueryInterface, in that order; interfaces carry no
// virtual destructor, so the table order is exactly the declaration order.
#ifndef PVLBASE_H
#define PVLBASE_H

#include <stdint.h>

#include "pvlresult.h"

// Class and interface identifiers: 32-bit numbers.
typedef uint32_t ZUEUID;

// Framework identifiers (runtime and host).
#define ZUEUID_IFACE_BASE                 0x01000001u  // answered by every object
#define ZUEUID_IFACE_OBJECT               0x01014ec5u  // CPvlObject itself
#define ZUEUID_IFACE_DELEGATE             0x0106ed99u  // delegating face of CPvlObject
#define ZUEUID_CLASS_MODULE               0x0102bba1u  // the module object of IMod_New
#define ZUEUID_IFACE_ENV                  0x0102346du
#define ZUEUID_CLASS_ENV                  0x0103a936u  // fresh environment
#define ZUEUID_IFACE_SINGLETON_REGISTRY   0x0101ed1fu
#define ZUEUID_CLASS_LOCK                 0x0101f752u
#define ZUEUID_CLASS_CLOCK                0x01028c22u
#define ZUEUID_CLASS_SIGNAL_QUEUE         0x010285f4u
#define ZUEUID_CLASS_XML_PARSER           0x0104f700u
#define ZUEUID_CLASS_PROPERTY_STORE       0x0104670au
#define ZUEUID_CLASS_THREAD               0x01025a9du
#define ZUEUID_IFACE_MEDIA_BUFFER         0x0103c19au
#define ZUEUID_IFACE_PROPERTIES           0x0103efebu
#define ZUEUID_IFACE_PROPERTIES_ALT       0x0103c1a0u  // second identifier of the property face

#ifdef __cplusplus

// The root interface (also known as IQI).
class IPvlBase {
 public:
  virtual int32_t AddRef() = 0;
  virtual int32_t Release() = 0;
  // 0 with *out set and one reference added, or a code with *out null.
  virtual PvlResult QueryInterface(ZUEUID iid, void** out) = 0;

 protected:
  ~IPvlBase() = default;  // never deleted through an interface
};

typedef IPvlBase IQI;

#endif  // __cplusplus

#endif
