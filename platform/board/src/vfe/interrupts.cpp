// The VFE's interrupt logic: the status word accumulates event bits, the mask
// selects which of them drive line 70, and a write of 1s to the clear register
// takes them away. The line is raised whenever an event sets a masked bit (the
// OS keeps a raise that comes while the line is being serviced and delivers it
// at InterruptDone). In lock-step the model waits after each raise until the
// driver has cleared every masked bit, so a test sees one interrupt at a time.
#include <chrono>
#include <cstdio>

#include "board_sim.h"
#include "wince_sim.h"
#include "vfe_model.h"

namespace board::vfe {

bool LineWanted(const Model& m) { return (m.status & Active(m, kRegIrqMask)) != 0; }

bool SetStatus(Model& m, uint32_t bits) {
  bits &= ~m.withheldBits;
  m.status |= bits;
  return (bits & Active(m, kRegIrqMask)) != 0;
}

void Raise(uint32_t generation) {
  Model& m = M();
  bool clock = ClockOn();
  {
    std::lock_guard<std::mutex> g(m.lock);
    if (!clock) {  // no interrupts without the clock; the status keeps the bits
      m.lastRaiseLost = true;
      return;
    }
    if (generation != m.generation) return;
    if (m.loseInterrupts > 0) {
      --m.loseInterrupts;
      ++m.counters.interruptsLost;
      m.lastRaiseLost = true;
      return;
    }
  }
  bool delivered = BoardRaiseInterrupt(kVfeInterrupt) != FALSE;
  std::lock_guard<std::mutex> g(m.lock);
  if (generation != m.generation) return;  // a reset came in between: its counters start clean
  m.lastRaiseLost = !delivered;
  if (delivered) {
    ++m.counters.interruptsRaised;
  } else {
    ++m.counters.interruptsLost;
  }
}

// Serviced: the masked bits cleared and the routine finished (InterruptDone
// has unmasked the line).
void WaitForService(Model& m, std::unique_lock<std::mutex>& lk) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m.lockStepTimeoutMs);
  // Nobody will service an interrupt that was lost before the next one comes.
  while (m.lockStep && !m.quit && !m.lastRaiseLost) {
    if (!LineWanted(m)) {
      lk.unlock();
      bool inRoutine = CeSimInterruptMasked(kVfeInterrupt) != FALSE;
      lk.lock();
      if (!inRoutine && !LineWanted(m)) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ++m.counters.serviceTimeouts;
      char why[160];
      std::snprintf(why, sizeof why, "interrupt service waited %d ms: status 0x%08X, mask 0x%08X", m.lockStepTimeoutMs,
                    m.status, Active(m, kRegIrqMask));
      m.lastTimeout = why;
      return;
    }
    m.cv.wait_for(lk, std::chrono::milliseconds(1));
  }
}

}  // namespace board::vfe

using namespace board::vfe;

void BoardVfeLoseInterrupts(int count) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.loseInterrupts = count < 0 ? 0 : count;
}

void BoardVfeWithholdBit(uint32_t bit, bool withhold) {
  if (bit > 31) return;
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  if (withhold) {
    m.withheldBits |= 1u << bit;
  } else {
    m.withheldBits &= ~(1u << bit);
  }
}

void BoardVfeWithholdStopAck(bool withhold) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.withholdStopAck = withhold;
}

void BoardVfeRaiseStatus(uint32_t bits) {
  Model& m = M();
  bool raise;
  uint32_t generation;
  {
    std::lock_guard<std::mutex> g(m.lock);
    generation = m.generation;
    if (bits & (1u << kVfeIrqCamifError)) {
      m.camifStatus = 0x80000000u;
      ++m.counters.camifErrors;
    }
    raise = SetStatus(m, bits);
  }
  if (raise) Raise(generation);
}
