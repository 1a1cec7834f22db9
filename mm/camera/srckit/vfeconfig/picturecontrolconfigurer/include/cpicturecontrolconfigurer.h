// The picture-control configurers: a change of brightness, contrast, gamma, hue,
// saturation, sharpness or image effect while frames flow recomputes only the
// blocks the setting feeds, sends their update commands and latches them with
// VFE_CMD_UPDATE. A step that fails (a refused update while an earlier one is
// pending, a failed read) ends the change with its code, so the engine knows
// the change was not applied and nothing half-done is latched.
#pragma once

#include <initializer_list>

#include "vfeconfigurer.h"

class CPictureControlConfigurer : public CVfeConfigurer {
 public:
  PvlResult ConfigureOutputs() override { return PVL_E_BADARG; }

 protected:
  CPictureControlConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
  // Sends the blocks' updates in order, then the latch; the first failure ends it.
  PvlResult UpdateBlocks(std::initializer_list<int32_t> updates);
};

#define VFE_PICTURE_CONFIGURER(Name)                                                    \
  class Name final : public CPictureControlConfigurer {                                 \
   public:                                                                              \
    static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {       \
      return CreateAs<Name>(service, out);                                              \
    }                                                                                   \
    PvlResult ConfigureCore() override;                                                 \
    Name(IVfeServiceInternal* service, PvlResult* result)                               \
        : CPictureControlConfigurer(service, result) {}                                 \
  };
VFE_PICTURE_CONFIGURER(CBrightnessConfigurer)
VFE_PICTURE_CONFIGURER(CContrastConfigurer)
VFE_PICTURE_CONFIGURER(CGammaConfigurer)
VFE_PICTURE_CONFIGURER(CHueConfigurer)
VFE_PICTURE_CONFIGURER(CSaturationConfigurer)
VFE_PICTURE_CONFIGURER(CSharpnessConfigurer)
VFE_PICTURE_CONFIGURER(CImageEffectConfigurer)
#undef VFE_PICTURE_CONFIGURER
