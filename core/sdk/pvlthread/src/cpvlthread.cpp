// CPvlThread: a host thread driven through a small state machine.
#include "cpvlthread.h"

#include <new>

#include "ienv.h"
#include "pvlheap.h"
#include "pvllog.h"

PvlResult CPvlThread::Create(IEnv* env, CPvlThread** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  PvlResult result = PVL_E_FAIL;
  // No-throw: a failed allocation is a result code here (14, as callers expect),
  // never an exception into code that works with results.
  CPvlThread* thread = new (std::nothrow) CPvlThread(env, &result);
  if (!thread) return PVL_E_BADARG;
  if (result != PVL_OK) {
    delete thread;
    return result;
  }
  thread->AddRef();
  *out = thread;
  return PVL_OK;
}

CPvlThread::CPvlThread(IEnv* env, PvlResult* result)
    : CPvlObject(env), m_state(PVL_THREAD_NOT_CREATED), m_stack(nullptr) {
  *result = PVL_E_NULLPTR;
  if (!env) return;
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, m_waitQueue.Out());
  if (r == PVL_OK && !m_waitQueue) r = PVL_E_FAIL;
  if (r == PVL_OK) r = m_waitQueue->CreateSignal(nullptr, PVL_THREAD_STOP_SIGNAL, &m_stopControl, &m_stopSignal);
  if (r == PVL_OK) r = env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, m_exitQueue.Out());
  if (r == PVL_OK && !m_exitQueue) r = PVL_E_FAIL;
  if (r == PVL_OK) r = m_exitQueue->CreateSignal(nullptr, 0, &m_exitControl, &m_exitSignal);
  if (r == PVL_OK && (!m_stopControl || !m_stopSignal || !m_exitControl || !m_exitSignal)) r = PVL_E_FAIL;
  *result = r;
  if (r == PVL_OK) m_state = PVL_THREAD_CREATED;
}

CPvlThread::~CPvlThread() {
  if (m_state == PVL_THREAD_RUNNING || m_state == PVL_THREAD_SUSPENDED) {
    if (Stop() != PVL_OK) {
      // The thread may still run on its stack: leave the block rather than
      // free it under a live thread.
      PvlAssertBreak(reinterpret_cast<uintptr_t>(this));
      m_stack = nullptr;
    }
  }
  ReleaseStack();
}

void CPvlThread::ReleaseStack() {
  if (m_stack) Heap_FreeBlock(GetEnv(), &m_stack);
  m_stack = nullptr;
}

PvlResult CPvlThread::GetState(uint32_t* state) {
  if (!state) return PVL_E_NULLPTR;
  *state = m_state;
  return PVL_OK;
}

PvlResult CPvlThread::Start(const CPvlThreadStartInfo* info, const char* name) {
  if (m_state != PVL_THREAD_CREATED) return PVL_E_NOTREADY;
  if (!info || !info->entry) return PVL_E_NULLPTR;
  if (info->stackSize == 0) return PVL_E_BADARG;

  CPvlPtr<IThreadHost> host;
  PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_THREAD, host.Out());
  if (r != PVL_OK) return r;
  if (!host) return PVL_E_FAIL;
  r = Heap_AllocBlock(GetEnv(), info->stackSize, &m_stack);
  if (r != PVL_OK || !m_stack) {
    ReleaseStack();
    return PVL_E_OUTOFMEMORY;
  }
  // A fire left from the last run (taken or not) must not stop the new body.
  m_stopSignal->ReArm();
  m_exitSignal->ReArm();

  const PvlThreadStartRecord record = {info->word0, info->word1, info->entry, info->context, m_stack,
                                       info->stackSize};
  r = host->Start(&record, name);
  if (r != PVL_OK) {
    ReleaseStack();
    return r;
  }
  m_host = host;
  m_state = PVL_THREAD_RUNNING;
  return PVL_OK;
}

PvlResult CPvlThread::Stop() {
  if (m_state != PVL_THREAD_RUNNING && m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  PvlResult r = m_stopControl->Fire();
  if (r != PVL_OK) return r;
  if (m_state == PVL_THREAD_SUSPENDED) {
    r = m_host->Resume(0);
    if (r != PVL_OK) return r;
    m_state = PVL_THREAD_RUNNING;
  }
  r = m_host->Join(m_exitControl);
  if (r != PVL_OK) return r;
  PvlSignalWaitRecord exitRecord = {};
  r = m_exitQueue->Wait(&exitRecord);
  if (r != PVL_OK) return r;
  m_host.Reset();
  ReleaseStack();
  m_state = PVL_THREAD_CREATED;
  return PVL_OK;
}

PvlResult CPvlThread::Suspend(uint32_t argument) {
  if (m_state != PVL_THREAD_RUNNING) return PVL_E_NOTREADY;
  const PvlResult r = m_host->Suspend(argument, 0);
  if (r == PVL_OK) m_state = PVL_THREAD_SUSPENDED;
  return r;
}

PvlResult CPvlThread::Resume(uint32_t argument) {
  if (m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  const PvlResult r = m_host->Resume(argument);
  if (r == PVL_OK) m_state = PVL_THREAD_RUNNING;
  return r;
}

PvlResult CPvlThread::PassThrough1(uint32_t a) {
  if (m_state != PVL_THREAD_RUNNING && m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  return m_host->PassThrough10(a);
}

PvlResult CPvlThread::PassThrough2(uint32_t a) {
  if (m_state != PVL_THREAD_RUNNING && m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  return m_host->PassThrough9(a, 0);
}

PvlResult CPvlThread::PassThrough3(uint32_t a, uint32_t b) {
  if (m_state != PVL_THREAD_RUNNING && m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  return m_host->PassThrough8(a, b, 0);
}

PvlResult CPvlThread::PassThrough4(uint32_t a, uint32_t b, uint32_t c) {
  if (m_state != PVL_THREAD_RUNNING && m_state != PVL_THREAD_SUSPENDED) return PVL_E_NOTREADY;
  return m_host->PassThrough11(a, b, c);
}

PvlResult CPvlThread::GetSignalQueue(ISignalQueue** queue) {
  if (!queue) return PVL_E_NULLPTR;
  *queue = m_waitQueue.Get();
  if (*queue) (*queue)->AddRef();
  return *queue ? PVL_OK : PVL_E_NOTREADY;
}
