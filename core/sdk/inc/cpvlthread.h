// CPvlThread: one host thread with a small state machine, a stack from the
// environment, a stop signal the body waits on and an exit signal the thread
// host fires when the body returns.
#ifndef CPVLTHREAD_H
#define CPVLTHREAD_H

#include <stddef.h>
#include <stdint.h>

#include "cpvlobject.h"
#include "isignalqueue.h"
#include "ithreadhost.h"

// The stop signal's identifier, as the body sees it in its wait record.
#define PVL_THREAD_STOP_SIGNAL 0x01061256u
#define PVL_THREAD_DEFAULT_STACK 8192u

// States.
#define PVL_THREAD_NOT_CREATED 0u
#define PVL_THREAD_CREATED 1u
#define PVL_THREAD_RUNNING 2u
#define PVL_THREAD_SUSPENDED 3u

struct CPvlThreadStartInfo {
  uint32_t word0 = 4;  // passed to the host unchanged
  uint32_t word1 = 0;  // passed to the host unchanged
  PvlThreadEntry entry = nullptr;
  void* context = nullptr;
  uint32_t stackSize = PVL_THREAD_DEFAULT_STACK;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CPvlThreadStartInfo) == 20, "the start information is five words");
static_assert(offsetof(CPvlThreadStartInfo, entry) == 8, "");
static_assert(offsetof(CPvlThreadStartInfo, context) == 12, "");
static_assert(offsetof(CPvlThreadStartInfo, stackSize) == 16, "");
#endif

class CPvlThread : public CPvlObject {
 public:
  // 0 with *out holding one reference; 29 for a null out or environment, 14 when
  // the object cannot be allocated, or the failure of making the signal queues.
  static PvlResult Create(IEnv* env, CPvlThread** out);

  ~CPvlThread() override;  // stops a running thread first

  // Forwarded to the host thread's operations 10, 9, 8 and 11; only while running
  // or suspended, else 13.
  virtual PvlResult PassThrough1(uint32_t a);
  virtual PvlResult PassThrough2(uint32_t a);
  virtual PvlResult PassThrough3(uint32_t a, uint32_t b);
  virtual PvlResult PassThrough4(uint32_t a, uint32_t b, uint32_t c);
  virtual PvlResult GetState(uint32_t* state);
  // Only in state 1 (else 13); 29 for a null info or entry, 14 for a stack size of 0,
  // 2 when the stack cannot be had, else the host's result.
  virtual PvlResult Start(const CPvlThreadStartInfo* info, const char* name);
  // Only while running or suspended (else 13): fires the stop signal, resumes a
  // suspended thread, joins, waits for the exit signal and goes back to state 1.
  virtual PvlResult Stop();
  virtual PvlResult Suspend(uint32_t argument);
  virtual PvlResult Resume(uint32_t argument);

  // The queue on which the body waits for PVL_THREAD_STOP_SIGNAL (one reference added).
  PvlResult GetSignalQueue(ISignalQueue** queue);

 private:
  CPvlThread(IEnv* env, PvlResult* result);
  void ReleaseStack();

  uint32_t m_state;
  CPvlPtr<IThreadHost> m_host;
  CPvlPtr<ISignalQueue> m_waitQueue;
  CPvlPtr<ISignalControl> m_stopControl;
  CPvlPtr<ISignal> m_stopSignal;
  CPvlPtr<ISignalQueue> m_exitQueue;
  CPvlPtr<ISignalControl> m_exitControl;
  CPvlPtr<ISignal> m_exitSignal;
  void* m_stack;
};

#endif
