// The still configurers. The processed one switches the outputs to their
// still mode with the capture count, programs the whole pipe with a frame-drop
// pattern for single and burst captures and records a still capture of that
// many frames; the raw one programs only what a Bayer capture needs and waits
// two sensor frames. Both only while the service is Idle.
#pragma once

#include "vfeconfigurer.h"

class CSnapshotConfigurer final : public CVfeConfigurer2 {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CSnapshotConfigurer>(service, out);
  }
  PvlResult GetCaptureCount(uint32_t* count) override;
  PvlResult SetCaptureCount(int32_t count) override;
  PvlResult ConfigureCore() override;
  PvlResult ConfigureOutputs() override;

  CSnapshotConfigurer(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfigurer2(service, result, ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND) {}

 private:
  PvlResult ConfigureFrameDrop();

  uint32_t m_captureCount = 0;
};

class CRawSnapshotConfigurer final : public CVfeConfigurer {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CRawSnapshotConfigurer>(service, out);
  }
  PvlResult ConfigureCore() override;
  PvlResult ConfigureOutputs() override;

  CRawSnapshotConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
};
