// The port base, its frame queue and the client's proxy (see the header).
//
// Lock discipline: m_lock guards the queue, the started flag and the mode; it
// is never held while a reader waits, and frames leaving the queue on Stop or
// close are released after it is given up (their pool takes its own lock).
#include "ccameraport.h"

#include <exception>
#include <new>
#include <utility>

#include "ccameralockguard.h"
#include "ienv.h"
#include "plindor.h"
#include "pvllog.h"

const CCameraPort::StandardSize CCameraPort::kStandardSizes[34] = {
    {80, 48},     {96, 80},     {128, 96},    {160, 120},   {176, 144},   {320, 192},   {272, 272},
    {320, 240},   {352, 288},   {480, 480},   {640, 384},   {576, 480},   {640, 480},   {800, 480},
    {800, 600},   {1024, 768},  {1280, 720},  {1280, 768},  {1280, 960},  {1600, 960},  {1600, 1200},
    {1920, 1080}, {2048, 1216}, {2048, 1536}, {2448, 1632}, {2592, 1552}, {2592, 1944}, {2580, 2048},
    {3000, 2000}, {3264, 1952}, {3072, 2304}, {3264, 2448}, {3648, 2736}, {4000, 3000},
};

// ---- The proxy ----

int32_t CCameraPortProxy::AddRef() { return m_port ? m_port->AddRef() : 0; }
int32_t CCameraPortProxy::Release() { return m_port ? m_port->Release() : 0; }

PvlResult CCameraPortProxy::QueryInterface(ZUEUID iid, void** out) {
  if (!m_port) return PVL_E_DETACHED;
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_PROPERTIES_ALT || iid == ZUEUID_IFACE_PROPERTIES) {
    AddRef();
    *out = static_cast<IProperties*>(this);
    return PVL_OK;
  }
  if (iid == ZUEUID_IFACE_CAMERA_PORT || iid == ZUEUID_IFACE_BASE) {
    AddRef();
    *out = static_cast<ICameraPort*>(this);
    return PVL_OK;
  }
  return PVL_E_UNSUPPORTED;
}

#define PROXY_FORWARD(call) return m_port ? m_port->call : PVL_E_DETACHED
PvlResult CCameraPortProxy::GetPortType(uint32_t* type) { PROXY_FORWARD(GetPortType(type)); }
PvlResult CCameraPortProxy::GetFormat(CameraPortFormat* format) { PROXY_FORWARD(GetFormat(format)); }
PvlResult CCameraPortProxy::SetFormat(const CameraPortFormat* format) { PROXY_FORWARD(SetFormat(format)); }
PvlResult CCameraPortProxy::GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) {
  PROXY_FORWARD(GetBufferRequirements(records, capacity, count));
}
PvlResult CCameraPortProxy::GetBufferAllocator(ICameraBufferManager** allocator) {
  PROXY_FORWARD(GetBufferAllocator(allocator));
}
PvlResult CCameraPortProxy::SetBufferManager(ICameraBufferManager* manager) { PROXY_FORWARD(SetBufferManager(manager)); }
PvlResult CCameraPortProxy::GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  PROXY_FORWARD(GetSupportedFormats(formats, capacity, count));
}
PvlResult CCameraPortProxy::Start() { PROXY_FORWARD(Start()); }
PvlResult CCameraPortProxy::Stop() { PROXY_FORWARD(Stop()); }
PvlResult CCameraPortProxy::GetNextFrame(IPvlMediaBuffer** buffer) { PROXY_FORWARD(GetNextFrame(buffer)); }
#undef PROXY_FORWARD

#define STORE_FORWARD(call) return m_store ? m_store->call : PVL_E_DETACHED
PvlResult CCameraPortProxy::Reserved3(uint32_t a, uint32_t b) {
  if (a == ZUEUID_PROPERTY_PORT_UNSUPPORTED) return PVL_E_UNSUPPORTED;
  STORE_FORWARD(Reserved3(a, b));
}
PvlResult CCameraPortProxy::GetProperty(uint32_t id, PvlValueRecord* value) {
  if (id == ZUEUID_PROPERTY_PORT_FRAME_COUNT || id == ZUEUID_PROPERTY_PORT_STATUS_2) {
    if (!value) return PVL_E_BADARG;
    if (!m_port) return PVL_E_DETACHED;
    return m_port->GetProperty(id, value);
  }
  STORE_FORWARD(GetProperty(id, value));
}
PvlResult CCameraPortProxy::SetProperty(uint32_t id, const PvlValueRecord* value) { STORE_FORWARD(SetProperty(id, value)); }
PvlResult CCameraPortProxy::AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) {
  STORE_FORWARD(AddProperty(desc, group, flags));
}
PvlResult CCameraPortProxy::Reserved7(uint32_t a, uint32_t) { STORE_FORWARD(Reserved7(a, 0)); }
PvlResult CCameraPortProxy::Reserved8(uint32_t a, uint32_t) { STORE_FORWARD(Reserved8(a, 0)); }
PvlResult CCameraPortProxy::GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) {
  STORE_FORWARD(GetProperties(descs, count, results));
}
PvlResult CCameraPortProxy::SetProperties(const PvlPropertyValueRecord* records, uint32_t count) {
  STORE_FORWARD(SetProperties(records, count));
}
PvlResult CCameraPortProxy::SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) {
  STORE_FORWARD(SetRanges(records, count));
}
PvlResult CCameraPortProxy::RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) {
  STORE_FORWARD(RegisterGroup(descs, count, group));
}
PvlResult CCameraPortProxy::Reserved13(uint32_t a, uint32_t b, uint32_t c) { STORE_FORWARD(Reserved13(a, b, c)); }
PvlResult CCameraPortProxy::Reserved14(uint32_t a, uint32_t b) { STORE_FORWARD(Reserved14(a, b)); }
#undef STORE_FORWARD

// ---- The port ----

CCameraPort::CCameraPort(IEnv* env, uint32_t type, PvlResult* result)
    : CPvlObject(env), m_type(type), m_started(0), m_mode(0) {
  PvlResult r = PVL_OK;
  try {
    r = env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, m_signalQueue.Out());
    if (r == PVL_OK) r = m_signalQueue->CreateSignal(nullptr, 0, &m_wakeControl, &m_wakeSignal);
    if (r == PVL_OK) r = env->CreateInstance(ZUEUID_CLASS_LOCK, m_lock.Out());
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
    r = PVL_E_FAIL;
  } catch (...) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception");
    r = PVL_E_FAIL;
  }
  if (r == PVL_OK) m_proxy.SetPort(this);
  if (result) *result = r;
}

CCameraPort::~CCameraPort() {
  m_proxy.SetPort(nullptr);
  std::deque<IPvlMediaBuffer*> frames = TakeQueue();
  ReleaseAll(frames);
}

PvlResult CCameraPort::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_CAMERA_PORT) {
    AddRef();
    *out = static_cast<ICameraPort*>(this);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CCameraPort::SetPortType(uint32_t type) {
  if (type != ZUEUID_CAMERA_PORT_VIDEO && type != ZUEUID_CAMERA_PORT_MAIN_IMAGE && type != ZUEUID_CAMERA_PORT_THUMBNAIL)
    return PVL_E_BADARG;
  m_type = type;
  return PVL_OK;
}

PvlResult CCameraPort::GetProperty(uint32_t id, PvlValueRecord* value) {
  if (!value || value->type != PVL_VT_UINT32) return PVL_E_BADARG;
  if (id != ZUEUID_PROPERTY_PORT_FRAME_COUNT && id != ZUEUID_PROPERTY_PORT_STATUS_2) return PVL_E_BADARG;
  if (!m_output) return PVL_E_NOTREADY;
  uint32_t first = 0, second = 0;
  PvlResult r = m_output->QueryStatus(&first, &second);
  if (r != PVL_OK) return r;
  value->payload.u32 = id == ZUEUID_PROPERTY_PORT_FRAME_COUNT ? first : second;
  return PVL_OK;
}

PvlResult CCameraPort::GetPortType(uint32_t* type) {
  if (!type) return PVL_E_NULLPTR;
  *type = m_type;
  return PVL_OK;
}

PvlResult CCameraPort::GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = uint32_t(m_formats.size());
  if (formats && capacity >= 1) {
    uint32_t n = 0;
    for (const CameraPortFormat& f : m_formats) {
      if (n == capacity) break;
      formats[n++] = f;
    }
  }
  return PVL_OK;
}

PvlResult CCameraPort::Start() {
  CCameraLockGuard guard(m_lock);
  m_started = 1;
  m_frameSinceStart = false;
  m_lostBeforeFirst = 0;
  m_deviceLost = DeviceLost::No;
  return PVL_OK;
}

std::deque<IPvlMediaBuffer*> CCameraPort::TakeQueue() {
  std::deque<IPvlMediaBuffer*> frames;
  frames.swap(m_queue);
  m_failedCaptures = 0;
  return frames;
}

void CCameraPort::ReleaseAll(std::deque<IPvlMediaBuffer*>& frames) {
  for (IPvlMediaBuffer* f : frames) f->Release();
  frames.clear();
}

PvlResult CCameraPort::Stop() {
  std::deque<IPvlMediaBuffer*> frames;
  {
    CCameraLockGuard guard(m_lock);
    m_started = 0;
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Clearing Camera Port Buffer Queue.");
    frames = TakeQueue();
    m_wakeControl->Fire();
  }
  ReleaseAll(frames);
  return PVL_OK;
}

PvlResult CCameraPort::SetMode(uint8_t mode) {
  std::deque<IPvlMediaBuffer*> frames;
  {
    CCameraLockGuard guard(m_lock);
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Changing Camera Port Mode to %d", int(mode));
    m_mode = mode;
    if (mode == 0) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Clearing Camera Port Buffer Queue.");
      frames = TakeQueue();
    }
    m_wakeControl->Fire();
  }
  ReleaseAll(frames);
  return PVL_OK;
}

uint8_t CCameraPort::IsStarted() {
  CCameraLockGuard guard(m_lock);
  return m_started;
}

PvlResult CCameraPort::GetNextFrame(IPvlMediaBuffer** buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  *buffer = nullptr;
  try {
    CCameraLockGuard guard(m_lock);
    if (!m_started || m_mode == 0) return PVL_E_NOTREADY;
    // No time-out is needed: the wait ends with a frame, a lost device, a Stop or a mode 0,
    // and each of these changes the port under the lock before it fires. The
    // state is read again under the lock after every wake, and a fire that
    // comes between that reading and the Wait stays pending until taken.
    while (m_queue.empty()) {
      if (m_failedCaptures > 0) {
        --m_failedCaptures;
        return PVL_E_CAPTURE_FAILED;
      }
      if (m_deviceLost == DeviceLost::ToReport) {
        m_deviceLost = DeviceLost::Reported;
        return PVL_E_DEVICE_LOST;
      }
      guard.Unlock();
      PvlSignalWaitRecord record;
      PvlResult r = m_signalQueue->Wait(&record);
      if (r != PVL_OK) return r;
      r = m_wakeSignal->ReArm();
      if (r != PVL_OK) return r;
      guard.Lock();
      if (!m_started || m_mode == 0) return PVL_E_STOPPED;
    }
    *buffer = m_queue.front();
    m_queue.pop_front();
    return PVL_OK;
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
    return PVL_E_FAIL;
  }
}

PvlResult CCameraPort::QueueFrame(IPvlMediaBuffer* buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  try {
    {
      CCameraLockGuard guard(m_lock);
      // A frame that was on its way when the device was lost is not a stream.
      if (m_deviceLost != DeviceLost::No) return PVL_OK;
      m_queue.push_back(buffer);
      buffer->AddRef();
      m_frameSinceStart = true;
    }
    return m_wakeControl->Fire();
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
    return PVL_E_FAIL;
  }
}

PvlResult CCameraPort::QueueFailedCapture() {
  try {
    {
      CCameraLockGuard guard(m_lock);
      ++m_failedCaptures;
    }
    return m_wakeControl->Fire();
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
    return PVL_E_FAIL;
  }
}

void CCameraPort::NoteLostFrame() {
  try {
    {
      CCameraLockGuard guard(m_lock);
      if (!m_started || m_frameSinceStart || ++m_lostBeforeFirst < kLostFramesReported) return;
      m_lostBeforeFirst = 0;
      ++m_failedCaptures;
    }
    m_wakeControl->Fire();
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
  }
}

void CCameraPort::NoteDeviceLost() {
  try {
    {
      CCameraLockGuard guard(m_lock);
      if (!m_started || m_deviceLost != DeviceLost::No) return;
      m_deviceLost = DeviceLost::ToReport;
    }
    m_wakeControl->Fire();
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
  }
}

uint32_t CCameraPort::QueuedFrames() {
  CCameraLockGuard guard(m_lock);
  return uint32_t(m_queue.size());
}

PvlResult CCameraPort::GetOutput(IVideoOutput** output) {
  if (!output) return PVL_E_NULLPTR;
  *output = m_output.Get();
  if (*output) (*output)->AddRef();
  return PVL_OK;
}

ICameraPort* CCameraPort::GetProxy() {
  AddRef();
  return &m_proxy;
}

IPvlBase* CCameraPort::SetProxyOuter(IPvlBase* outer) {
  m_proxy.SetOuter(outer);
  AddRef();
  return static_cast<ICameraPort*>(&m_proxy);
}

PvlResult CCameraPort::Attach(IVideoOutput* output, ICameraSensorService* sensor) {
  if (!output || !sensor) return PVL_E_NULLPTR;
  if (m_output || m_sensor) return PVL_E_NOTREADY;
  m_output = output;
  m_sensor = sensor;
  PvlResult r;
  try {
    r = BuildFormats();
  } catch (const std::exception& e) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Exception: %s", e.what());
    r = PVL_E_FAIL;
  }
  if (r != PVL_OK) {
    m_output.Reset();
    m_sensor.Reset();
    m_formats.clear();
  }
  return r;
}

PvlResult CCameraPort::BuildFormats() {
  m_formats.clear();
  int32_t count = 0;
  PvlResult r = m_output->GetFormats(nullptr, 0, &count);
  if (r != PVL_OK) return r;
  if (count < 0) return PVL_E_BADARG;
  CameraPortFormat* formats = new (std::nothrow) CameraPortFormat[count ? count : 1];
  if (!formats) return PVL_E_OUTOFMEMORY;
  struct Holder {
    CameraPortFormat* p;
    ~Holder() { delete[] p; }
  } holder{formats};
  r = m_output->GetFormats(formats, count, &count);
  if (r != PVL_OK) return r;

  SensorTiming timing{};
  r = m_sensor->GetTiming(&timing, 0);
  if (r != PVL_OK) return r;
  SensorCapabilities caps{};
  r = m_sensor->GetCapabilities(&caps);
  if (r != PVL_OK) return r;
  const uint32_t frameInterval = timing.Words[1];
  const uint8_t autoRate = caps.Words[5] == 1 ? 1 : 0;
  const bool testMode = VantorIsCameraLTKRunning() == 1;

  for (int32_t i = 0; i < count; ++i) {
    uint8_t scalable = 0;
    r = m_output->IsFormatScalable(&scalable, uint32_t(i));
    if (r != PVL_OK) return r;
    const CameraPortFormat& f = formats[i];
    if (!scalable) {
      m_formats.push_back(f);
      continue;
    }
    const StandardSize* sizes = testMode ? &kTestModeSize : kStandardSizes;
    const size_t n = testMode ? 1 : sizeof kStandardSizes / sizeof kStandardSizes[0];
    for (size_t s = 0; s < n; ++s) {
      if (sizes[s].width > f.Width || sizes[s].height > f.Height) continue;
      CameraPortFormat g = f;
      g.Width = sizes[s].width;
      g.Height = sizes[s].height;
      g.Stride = g.Width * g.Depth / 8;
      g.FrameInterval = testMode ? kTestModeFrameInterval : frameInterval;
      g.AutoFrameRate = autoRate;
      g.ClipLeft = 0;
      g.ClipTop = 0;
      g.ClipRight = int32_t(g.Width);
      g.ClipBottom = int32_t(g.Height);
      m_formats.push_back(g);
    }
  }
  return PVL_OK;
}
