// The VFE service's four states. Each answers every life-cycle operation by
// refusing it (13), accepting it without work, or naming the service action
// that runs and the state the service moves to when that action succeeds.
// The table is the whole machine; CVfeService::Transition applies it.
#pragma once

#include <stdint.h>

#include "ivfeservice.h"

enum VfeStateId : uint32_t {
  VFE_STATE_UNINITIALIZED = 0,
  VFE_STATE_SUSPENDED = 1,
  VFE_STATE_IDLE = 2,
  VFE_STATE_RUNNING = 3,
};
constexpr uint32_t kVfeStateCount = 4;

enum class VfeOperation : uint8_t { Initialize, Start, Stop, Uninitialize, Suspend, Resume };
constexpr uint32_t kVfeOperationCount = 6;

enum class VfeAction : uint8_t { Refuse, Accept, Open, StartVfe, StopVfe, Close, UnloadDriver, ReloadDriver };

struct VfeRule {
  VfeAction action;
  VfeStateId next;  // after a successful action
};

class CVfeState final : public IVfeState {
 public:
  explicit CVfeState(VfeStateId id) : m_id(id) {}
  bool IsInitialized() override { return m_id == VFE_STATE_IDLE || m_id == VFE_STATE_RUNNING; }
  VfeStateId GetStateId() const { return m_id; }
  const VfeRule& Rule(VfeOperation operation) const;

 private:
  VfeStateId m_id;
};
