// The video port (see the header): mode 1 of its output throughout.
#include "ccameravideoport.h"

#include <new>

#include "pvllog.h"

PvlResult CCameraVideoPort::Create(IEnv* env, ICameraPort** port) {
  if (!env || !port) return PVL_E_NULLPTR;
  *port = nullptr;
  PvlResult r = PVL_OK;
  CCameraVideoPort* self = new (std::nothrow) CCameraVideoPort(env, &r);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  if (r == PVL_OK) {
    *port = self;
    return PVL_OK;
  }
  self->Release();
  return r;
}

CCameraVideoPort::CCameraVideoPort(IEnv* env, PvlResult* result) : CCameraPort(env, ZUEUID_CAMERA_PORT_VIDEO, result) {}

CCameraVideoPort::~CCameraVideoPort() { CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraVideoPort Destructor!"); }

PvlResult CCameraVideoPort::SetPortType(uint32_t type) {
  return type == ZUEUID_CAMERA_PORT_VIDEO ? PVL_OK : PVL_E_BADARG;
}

PvlResult CCameraVideoPort::GetFormat(CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetFormat(VIDEO_OUTPUT_MODE_VIDEO, format);
}

PvlResult CCameraVideoPort::SetFormat(const CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, format);
}

PvlResult CCameraVideoPort::GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) {
  if (!count || (!records && capacity != 0)) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetBufferInfo(VIDEO_OUTPUT_MODE_VIDEO, records, int32_t(capacity), count);
}

PvlResult CCameraVideoPort::GetBufferAllocator(ICameraBufferManager** allocator) {
  if (!allocator) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->GetBufferAllocator(VIDEO_OUTPUT_MODE_VIDEO, allocator);
}

PvlResult CCameraVideoPort::SetBufferManager(ICameraBufferManager* manager) {
  if (!manager) return PVL_E_NULLPTR;
  if (!Output()) return PVL_E_NOTREADY;
  return Output()->SetBufferManager(VIDEO_OUTPUT_MODE_VIDEO, manager);
}

PvlResult CCameraVideoPort::Start() {
  PvlResult enabled = Output() ? Output()->Enable(VIDEO_OUTPUT_MODE_VIDEO, 1) : PVL_E_NOTREADY;
  PvlResult base = CCameraPort::Start();
  return enabled == PVL_OK && base == PVL_OK ? PVL_OK : PVL_E_FAIL;
}

PvlResult CCameraVideoPort::Stop() {
  PvlResult disabled = Output() ? Output()->Enable(VIDEO_OUTPUT_MODE_VIDEO, 0) : PVL_OK;
  PvlResult base = CCameraPort::Stop();
  return disabled == PVL_OK && base == PVL_OK ? PVL_OK : PVL_E_FAIL;
}
