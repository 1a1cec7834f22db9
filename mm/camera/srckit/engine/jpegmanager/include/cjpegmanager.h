// The JPEG manager: turns the still outputs' main images and thumbnails into
// JPEG files for the main-image port.
//
// It owns the host's JPEG encoder service, feeds it each capture's main frame
// and thumbnail as they arrive (in either order), holds later captures while
// one is encoding, gives the encoder output buffers from the client's buffer
// manager and queues every finished JPEG on the main-image port. The JPEG
// settings and the EXIF tags live in its property store, which clients reach
// through the main-image port's property face. Two states decide what a frame
// or an encoder event does: Idle (nothing encoding) and Encode.
#pragma once

#include <stdint.h>

#include <deque>

#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "icamerabuffermanager.h"
#include "ijpegservice.h"
#include "ilock.h"
#include "ipropertystore.h"
#include "isignalqueue.h"

class CJpegManager final : public CPvlObject, public IJpegServiceListener {
 public:
  // What the manager needs of its main-image port.
  class Client {
   public:
    // A free buffer of the client's buffer manager for an encoded image.
    virtual PvlResult GetDeliveryBuffer(uint32_t flag, IPvlMediaBuffer** buffer) = 0;
    // Queues a finished JPEG for the port's client.
    virtual PvlResult QueueFrame(IPvlMediaBuffer* buffer) = 0;

   protected:
    ~Client() = default;
  };

  // 2 out of memory; the construction's failure (3 without a JPEG service).
  static PvlResult Create(IEnv* env, Client* port, CJpegManager** manager);

  PVL_FORWARD_IPVLBASE_TO(CPvlObject)
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult OnMainFrame(IPvlMediaBuffer* frame);
  PvlResult OnThumbnailFrame(IPvlMediaBuffer* frame);
  PvlResult GetProperties(IPropertyStore** store);
  PvlResult QueryBufferInfo(BufferRequest* request);
  PvlResult GetOutputBufferRequirements(BufferRequest* request);
  PvlResult SetThumbnailFormat(const CameraPortFormat* format);
  PvlResult SetMainFormat(const CameraPortFormat* format);
  // Aborts a running encode and waits for the encoder to confirm.
  PvlResult Stop();
  bool IsEncoding();
  uint32_t PendingJobs();

  // IJpegServiceListener.
  PvlResult GetDeliveryBuffer(void* context, uint32_t flag, IPvlMediaBuffer** buffer) override;
  PvlResult OnEvent(void* context, uint32_t event) override;
  PvlResult OutputProducedHandler(void* context, IPvlMediaBuffer* buffer) override;

 private:
  struct Job {
    // Copied, never moved: the frame holders take a reference each.
    Job() = default;
    Job(const Job&) = default;
    Job& operator=(const Job&) = default;
    CPvlPtr<IPvlMediaBuffer> main;
    bool mainSent = false;
    CPvlPtr<IPvlMediaBuffer> thumbnail;
    bool thumbnailSent = false;
  };

  class State {
   public:
    explicit State(CJpegManager* owner) : m(owner) {}
    virtual ~State() = default;
    virtual PvlResult OnMainFrame(IPvlMediaBuffer* frame) = 0;
    virtual PvlResult OnThumbnailFrame(IPvlMediaBuffer* frame) = 0;
    virtual PvlResult Enter() = 0;
    virtual PvlResult Stop() = 0;
    virtual PvlResult EncodeDone() = 0;
    virtual PvlResult EncodeError() = 0;
    virtual PvlResult EncodeAbort() = 0;

   protected:
    CJpegManager* m;
  };
  class JpegManagerStateIdle;
  class JpegManagerStateEncode;

  CJpegManager(IEnv* env, Client* port);
  ~CJpegManager() override;
  PvlResult Construct();
  // The one transition function: makes `next` current and, when asked, runs its Enter.
  PvlResult Transition(State* next, bool enter);
  // Delivers what the current job has not sent yet.
  PvlResult SendCurrent();
  // Drops the current and pending jobs (their frames go back to their pools).
  void DropJobs();
  PvlResult FrameInEncode(IPvlMediaBuffer* frame, bool thumbnail);
  PvlResult JobFinished(const char* line);

  CPvlPtr<ILock> m_lock;
  CPvlPtr<ISignalQueue> m_signalQueue;
  CPvlPtr<ISignalControl> m_abortControl;
  CPvlPtr<ISignal> m_abortSignal;
  CPvlPtr<IPropertyStore> m_store;
  Client* m_port;
  CPvlPtr<IJpegService> m_service;
  std::deque<Job> m_pending;
  Job m_current;
  State* m_state;
  State* m_encode;
  State* m_idle;
  bool m_stopping;
};
