// The classes the host makes in services/, reached from the environment's CreateInstance.
#include "ienv.h"
#include "ixmlparser.h"
#include "servicesinternal.h"

namespace orbhost::services {

PvlResult CreateServiceInstance(ZUEUID clsid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  switch (clsid) {
    case ZUEUID_CLASS_XML_PARSER:
      return CreateXmlParser(out);
    case ZUEUID_CLASS_FILESYSTEM:
      return CreateFileSystem(out);
    case ZUEUID_CLASS_JPEGSERVICE:
      return CreateJpegService(out);
    default:
      return PVL_E_NOTSUPPORTED;
  }
}

}  // namespace orbhost::services
