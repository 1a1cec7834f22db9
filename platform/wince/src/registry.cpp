#include "internal.h"
namespace cesim {
void RegistryImageChanged() {}
}
