// The transition table of the VFE service's four states.
#include "cvfestate.h"

namespace {

constexpr VfeRule kRefuse{VfeAction::Refuse, VFE_STATE_UNINITIALIZED};
constexpr VfeRule Accept(VfeStateId self) { return VfeRule{VfeAction::Accept, self}; }

// Rows by state, columns by operation: Initialize, Start, Stop, Uninitialize, Suspend, Resume.
constexpr VfeRule kRules[kVfeStateCount][kVfeOperationCount] = {
    // Uninitialized
    {{VfeAction::Open, VFE_STATE_IDLE}, kRefuse, kRefuse, kRefuse, kRefuse, kRefuse},
    // Suspended
    {kRefuse, kRefuse, Accept(VFE_STATE_SUSPENDED), kRefuse, Accept(VFE_STATE_SUSPENDED),
     {VfeAction::ReloadDriver, VFE_STATE_IDLE}},
    // Idle
    {kRefuse, {VfeAction::StartVfe, VFE_STATE_RUNNING}, Accept(VFE_STATE_IDLE),
     {VfeAction::Close, VFE_STATE_UNINITIALIZED}, {VfeAction::UnloadDriver, VFE_STATE_SUSPENDED}, kRefuse},
    // Running
    {kRefuse, kRefuse, {VfeAction::StopVfe, VFE_STATE_IDLE}, kRefuse, kRefuse, kRefuse},
};

}  // namespace

const VfeRule& CVfeState::Rule(VfeOperation operation) const {
  return kRules[m_id][static_cast<uint32_t>(operation)];
}
