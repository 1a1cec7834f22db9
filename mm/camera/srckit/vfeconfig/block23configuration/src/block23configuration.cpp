#include "block23configuration.h"

PvlResult CBlock23Configuration::Create(IVfeServiceInternal* service, CBlock23Configuration** out) {
  return CreateAs(service, out);
}
