// The video port: the preview or capture stream of one YUV VFE output (its
// mode 1). The port manager makes one per YUV output and queues each of its
// video frames here; the driver binds the first to its preview pin and the
// second to its capture pin. Queueing and blocking are the port base's.
#pragma once

#include "ccameraport.h"

class CCameraVideoPort final : public CCameraPort {
 public:
  // 29 for a null argument, 2 out of memory; else the construction's result
  // and the port face with one reference.
  static PvlResult Create(IEnv* env, ICameraPort** port);

  PvlResult SetPortType(uint32_t type) override;
  PvlResult GetFormat(CameraPortFormat* format) override;
  PvlResult SetFormat(const CameraPortFormat* format) override;
  PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(ICameraBufferManager* manager) override;
  PvlResult Start() override;
  PvlResult Stop() override;

 private:
  CCameraVideoPort(IEnv* env, PvlResult* result);
  ~CCameraVideoPort() override;
};
