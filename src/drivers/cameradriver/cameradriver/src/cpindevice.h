// CPinDevice: one open handle on the pin device ("PIN1:"). A pin carries one stream
// of the camera (capture, still, preview or the hidden thumbnail) once the client
// instantiates it: from then on it owns the engine port mapped to that pin, the
// client's message queue, the negotiated format, the client's buffers and a capture
// thread that moves each frame of the port into a client buffer and tells the client
// through its queue. The stream runs the STOP / PAUSE / RUN machine.
//
// Locks: a pin's requests run under the camera device's lock (taken by
// PIN_IOControl). The capture thread never takes that lock (a stop holds it while
// it waits for the thread, and a client setting properties back to back would keep
// it): the buffer table has a lock of its own, taken inside the device lock by the
// requests and alone by the capture thread, and held only while entries change
// (no wait, no call out of the pin under it).
#pragma once

#include <stdint.h>

#include <atomic>
#include <memory>

#include "bufferrequest.h"
#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "csprotocol.h"
#include "icamerabuffermanager.h"
#include "icameraport.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "propertytranslation.h"
#include "wince.h"

class CCameraDevice;
namespace pinimpl {
struct PinKind;
}

// How far a pin in RUN has got: it starts (its port running, its capture thread let
// go; a video pin's engine streaming, a still pin's trigger armed) only once every
// buffer it needs is queued, which may come after RUN.
enum class RunPhase : uint8_t { NotStarted, Started };

// Buffer allocation modes of a pin.
enum PinBufferMode : uint32_t {
  kBufferModeDriver = 1,      // the driver allocates and hands buffers out
  kBufferModeClient = 2,      // the client allocates; buffers fill the next entry
  kBufferModeClientAny = 4,   // the client allocates; buffers fill the first free entry
};

// One client buffer as the pin tracks it.
struct PinBufferEntry {
  CS_STREAM_DESCRIPTOR* queued;  // the client's descriptor while the driver holds it for a frame
  uint32_t reserved;
  CS_STREAM_DESCRIPTOR copy;     // the descriptor, its data pointer in the driver's view
  IPvlMediaBuffer* buffer;       // the framework buffer behind it (one reference), or null
  uint8_t held;                  // allocated and in the client's hands
  uint8_t pad[3];
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PinBufferEntry) == 136, "a buffer entry is 136 bytes");
static_assert(offsetof(PinBufferEntry, copy) == 8 && offsetof(PinBufferEntry, buffer) == 128);
#endif

// A pin's buffer table and its counters. The hidden Thumbnail pin has none of its
// own: it delivers into the Preview pin's buffers, so it uses the Preview pin's
// table, which only the Preview pin allocates and frees.
struct PinBufferTable {
  PinBufferTable() { InitializeCriticalSection(&lock); }
  ~PinBufferTable() { DeleteCriticalSection(&lock); }
  PinBufferTable(const PinBufferTable&) = delete;
  PinBufferTable& operator=(const PinBufferTable&) = delete;
  CRITICAL_SECTION lock;  // the entries and counters below
  PinBufferEntry* entries = nullptr;
  uint32_t frameCount = 4;  // entries in the table (the pin's buffer count)
  uint32_t allocated = 0;   // entries handed to the client
  uint32_t queued = 0;      // entries queued with the driver for a frame
};

inline constexpr uint32_t kPinJpegProperties = 5;
// The JPEG-encode set's rows (ids 0..4; id 4, the crop factor, is the driver's own).
extern const DSPropertyMapEntry g_JpegEncodePropMap[kPinJpegProperties];

// Driver-wide values the pins share (module globals on the phone).
struct PinGlobals {
  uint32_t previewWidth = 0, previewHeight = 0;
  uint32_t stillWidth = 0, stillHeight = 0;
  double zoomCropFactor = 1.0;
  uint8_t snapshotTriggerWait = 0;  // Still and Thumbnail threads wait for the trigger
  void* actionScreen = nullptr;     // the post-capture screen buffer
};
PinGlobals& OstrelPinGlobals();

class CPinDevice {
 public:
  CPinDevice();
  ~CPinDevice();
  CPinDevice(const CPinDevice&) = delete;
  CPinDevice& operator=(const CPinDevice&) = delete;

  BOOL InitializeSubDevice(CCameraDevice* device);
  CCameraDevice* Device() const { return m_device; }
  uint32_t PinId() const { return m_pinId; }
  const WCHAR* Name() const;
  // Ends the stream and gives back everything the pin holds in the device (called
  // by PIN_Close under the device lock, and by destruction).
  void Close();
  // The camera is being closed under the pin: the stream ends and the pin lets go of
  // the engine's port and buffers while the engine still exists (device lock held).
  void OnDeviceUnprepared();

  // Stream requests (connection, EXIF, JPEG, instantiation, buffers): Win32 codes.
  DWORD StreamInstantiate(const CSPROPERTY_STREAMEX_S& request, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleConnectionRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleExifRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleJpegRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleBufferRequest(uint32_t command, void* out, DWORD outLength);
  // Video control's trigger: the pin to RUN; whether the still pin awaits a still.
  DWORD SetRunState();
  bool IsStillTriggerAllowed() const { return m_phase == RunPhase::Started; }
  // A shutter press while the client holds every buffer of the still pin: the still
  // would have nowhere to go (and would answer a later press). It is dropped and
  // counted now, and the next buffer carries the discontinuity flag.
  bool DropStillWithoutBuffer() {
    EnterCriticalSection(&m_table->lock);
    const uint32_t queued = m_table->queued;
    LeaveCriticalSection(&m_table->lock);
    if (queued) return false;
    ++m_droppedFrames;
    m_frameDropped = 1;
    return true;
  }
  void ResetDroppedFrames() { m_droppedFrames = 0; }
  BOOL FireSnapshotTrigger() { return SetEvent(m_triggerEvent); }
  BOOL FireShutterSound() { return SetEvent(m_shutterEvent); }

  // Dropped-frame counters of a capture stream (the port's counters while streaming).
  int64_t PictureNumber() const;
  int64_t DropCount() const;
  uint32_t AverageFrameSize() const { return m_frameSize; }
  uint32_t State() const { return uint32_t(m_state); }
  uint32_t FrameCount() const { return m_table->frameCount; }
  uint32_t FrameSize() const { return m_frameSize; }
  uint32_t BufferMode() const { return m_bufferMode; }
  uint32_t CompressionCode() const;
  bool OwnsStream() const { return m_ownsSlot; }

  // The hidden Thumbnail pin and its Preview pin: the thumbnail fills the preview's
  // buffers (their table and counters stay the preview's), and runs on the preview's
  // pool and client-memory fallback, handed over whenever the preview's change.
  void ShareBufferTable(CPinDevice* preview);
  void ReceiveBuffersOf(const CPinDevice& preview);
  bool SharesBufferTable() const { return m_table != &m_ownTable; }
  ICameraBufferManager* BufferManager() const { return m_bufferManager; }
  uint8_t ClientMemoryFallback() const { return m_clientMemoryFallback; }

 private:
  DWORD ConnectionState(uint32_t flags, void* value, DWORD valueSize, DWORD* returned);
  DWORD ConnectionFormat(uint32_t flags, void* value, DWORD valueSize, DWORD* returned);
  DWORD ConnectionFraming(uint32_t flags, void* value, DWORD valueSize, DWORD* returned);
  // The stream-state machine: the one place where the state changes.
  DWORD Transition(CsStreamState to);
  DWORD StopStream();
  void EndCaptureThread();
  void ReturnQueuedBuffers();
  void FreeBuffers();

  bool ConfigurePort();
  bool UpdateBufferRequirements();
  bool LoadJpegDefaults();
  void ReadBufferMode();
  // The row of this pin's kind.
  const pinimpl::PinKind& Kind() const;
  // Starts a video or still pin once RUN, the pool and every buffer are there.
  BOOL StartWithBuffers();
  BOOL StartThumbnail();
  DWORD CreateBufferManager(bool ownMemory);
  void ReleaseBufferManager();

  DWORD Allocate(CS_STREAM_DESCRIPTOR* client);
  DWORD Enqueue(CS_STREAM_DESCRIPTOR* client);
  DWORD Deallocate(CS_STREAM_DESCRIPTOR* client);
  DWORD DriverBuffer(uint32_t index);
  DWORD RegisterClientBuffer(uint32_t index, CS_STREAM_DESCRIPTOR* client);
  int FindEntry(const CS_STREAM_DESCRIPTOR& descriptor, void** mapped);
  uint32_t HandleFor(uint32_t index, const void* data) const;

  static DWORD WINAPI CaptureThreadEntry(LPVOID pin);
  DWORD CaptureThread();
  // Picks the client buffer for a frame (null: none free); false on bad arguments.
  bool RemoveBufferFromList(IPvlMediaBuffer* frame, CS_STREAM_DESCRIPTOR** client, void** mapped, uintptr_t* data,
                            int* index);
  // Gives entry `index` back to the driver's queue (its message could not be sent).
  void RequeueBuffer(int index, CS_STREAM_DESCRIPTOR* client);
  // Entry `index`, held by the client, queued again for a frame: false when it is
  // not held. Its own pool buffer, if it keeps one, comes back in `release`, to be
  // released once the table lock is let go. Table lock held.
  bool QueueEntry(uint32_t index, CS_STREAM_DESCRIPTOR* client, IPvlMediaBuffer** release);
  // Numbers the frame just taken from the port and notes the port's losses.
  void NumberFrame();
  bool InitMsgQueueDescriptor(CS_MSGQUEUE_BUFFER_MESSAGE* message, IPvlMediaBuffer* frame,
                              CS_STREAM_DESCRIPTOR* client, uintptr_t data, bool isFrame);
  bool DeliverFailedCapture();
  // The camera module stopped answering (the port's PVL_E_DEVICE_LOST): every
  // queued buffer comes back empty, and so does each one queued until STOP.
  bool DeliverLostStream();
  // Each buffer the client has queued comes back at once with no data, the
  // discontinuity flag and the drop count. False when a descriptor could not be read.
  bool GiveBackQueuedEmpty();
  bool GiveBackEmpty(CS_STREAM_DESCRIPTOR* client, uintptr_t data, int index);
  uint32_t PortDrops() const;
  // False when the frame was not converted; `writable` false when the client's
  // buffer refused the copy.
  bool CheckNv21Frame(IPvlMediaBuffer* frame, uint64_t* address, uint32_t* width, uint32_t* height);
  bool CopyNV21ToYV12(IPvlMediaBuffer* frame, uint8_t* destination, bool* writable);
  // The same for a frame the port wrote into the client's own buffer, within it.
  bool ConvertNV21ToYV12InPlace(IPvlMediaBuffer* frame, bool* writable);
  void PostCaptureScreen(IPvlMediaBuffer* frame);
  uint32_t PortCounter(uint32_t id) const;

  DWORD SetJpegValue(uint32_t id, const CSPROPERTY_VIDEOPROCAMP_S& record);

  CCameraDevice* m_device = nullptr;
  uint32_t m_pinId = CS_PIN_NONE;
  bool m_ownsSlot = false;  // the instantiation claimed the device's slot and port
  uint32_t m_droppedFrames = 0;
  uint32_t m_frameSize = 0;
  ICameraPort* m_port = nullptr;
  IProperties* m_portProperties = nullptr;
  CS_DATARANGE_VIDEO m_range{};
  uint32_t m_bufferMode = kBufferModeClient;
  uint8_t m_clientMemoryFallback = 0;
  BufferRequest m_requirements{};
  ICameraBufferManager* m_bufferManager = nullptr;
  PinBufferTable m_ownTable;
  PinBufferTable* m_table = &m_ownTable;  // the Preview pin's for the Thumbnail pin
  int64_t m_firstFrameTime = -1;
  int64_t m_nextPresentation = 0;
  HANDLE m_clientQueue = nullptr;
  HANDLE m_thread = nullptr;
  HANDLE m_shutterEvent = nullptr;
  HANDLE m_triggerEvent = nullptr;
  std::atomic<uint8_t> m_exit{0};
  std::atomic<uint32_t> m_state{CSSTATE_STOP};
  std::atomic<bool> m_streamLost{false};  // the sensor was lost; cleared by the next RUN
  std::atomic<RunPhase> m_phase{RunPhase::NotStarted};
  uint8_t m_frameDropped = 1;  // the first buffer delivered carries the discontinuity flag
  uint32_t m_portDropsSeen = 0;  // the port's drop count at the last frame taken
  int64_t m_pictureNumber = -1;  // the last frame's number; -1 before the first of a run
  uint32_t m_bufferMessages = 0;
  DSPropertyMapEntry m_jpeg[kPinJpegProperties]{};
  uint8_t m_lineBuffer[4000];
  std::unique_ptr<uint8_t[]> m_chroma;  // what the in-place conversion sets apart
  uint32_t m_chromaBytes = 0;
};
