// The life cycle of a service that owns one driver (the sensor's, the flash's):
// five states, seven operations, and per service one table of state x
// operation -> rule. A rule refuses the operation (13), accepts it without
// work (0), or names the action the service runs and the state it moves to:
// once the action has succeeded, or before it, whatever the driver answers.
// A rule may first run the service's own Stop. RunLifeCycle applies a table;
// each service keeps its own, so that where two services differ the rows say so.
#pragma once

#include <stdint.h>

#include "pvlresult.h"

enum class ServiceState : uint32_t { Detecting = 0, Detected = 1, Suspended = 2, Initialized = 3, Started = 4 };
constexpr uint32_t kServiceStateCount = 5;

enum class ServiceOperation : uint8_t { Initialize, Uninitialize, Start, Stop, Reset, Suspend, Resume };
constexpr uint32_t kServiceOperationCount = 7;

enum class ServiceAction : uint8_t {
  Refuse,       // answers 13
  Accept,       // answers 0
  Open,         // take the client's settings, open the driver and its configurers, power up
  Close,        // power down; the driver, its configurers and the settings go whatever it answers
  StartDriver,  // the driver's start
  StopDriver,   // the driver's stop
  ResetDriver,  // the driver's reset
  Sleep,        // power down, then the driver and its configurers go; the settings stay
  Wake,         // open the driver and its configurers again, power up
};

enum class ServiceMove : uint8_t {
  Stay,       // the state does not change
  OnSuccess,  // to `next` once the action answered 0
  First,      // to `next` before the action, whatever it answers
};

enum class ServiceLead : uint8_t {
  None,
  Stop,        // the service's own Stop first; its failure is the answer
  StopAnyway,  // the service's own Stop first; its answer is not looked at
};

struct ServiceRule {
  ServiceAction action;
  ServiceState next;
  ServiceMove move;
  ServiceLead lead;
};

// Rows by state (ServiceState order), columns by operation (ServiceOperation order).
using ServiceLifeCycle = ServiceRule[kServiceStateCount][kServiceOperationCount];

// The words the tables are written in.
namespace lifecycle {

constexpr ServiceRule kRefuse{ServiceAction::Refuse, ServiceState::Detecting, ServiceMove::Stay, ServiceLead::None};
constexpr ServiceRule kAccept{ServiceAction::Accept, ServiceState::Detecting, ServiceMove::Stay, ServiceLead::None};

// The action, then `next` if it succeeded.
constexpr ServiceRule Then(ServiceAction action, ServiceState next) {
  return ServiceRule{action, next, ServiceMove::OnSuccess, ServiceLead::None};
}
// `next` first, then the action; its failure is the answer but the state stays moved.
constexpr ServiceRule MoveThen(ServiceState next, ServiceAction action) {
  return ServiceRule{action, next, ServiceMove::First, ServiceLead::None};
}
// The action; the state stays.
constexpr ServiceRule Only(ServiceAction action) {
  return ServiceRule{action, ServiceState::Detecting, ServiceMove::Stay, ServiceLead::None};
}
constexpr ServiceRule AfterStop(ServiceRule rule) {
  rule.lead = ServiceLead::Stop;
  return rule;
}
constexpr ServiceRule AfterStopAnyway(ServiceRule rule) {
  rule.lead = ServiceLead::StopAnyway;
  return rule;
}

}  // namespace lifecycle

// Applies `rules` to one operation in `state`; `perform(action)` runs an
// action and answers its result.
template <class Perform>
PvlResult RunLifeCycle(const ServiceLifeCycle& rules, ServiceState& state, ServiceOperation operation,
                       Perform& perform) {
  const ServiceRule& rule = rules[static_cast<uint32_t>(state)][static_cast<uint32_t>(operation)];
  if (rule.action == ServiceAction::Refuse) return PVL_E_NOTREADY;
  if (rule.action == ServiceAction::Accept) return PVL_OK;
  if (rule.lead != ServiceLead::None) {
    const PvlResult stopped = RunLifeCycle(rules, state, ServiceOperation::Stop, perform);
    if (stopped != PVL_OK && rule.lead == ServiceLead::Stop) return stopped;
  }
  if (rule.move == ServiceMove::First) state = rule.next;
  const PvlResult r = perform(rule.action);
  if (r == PVL_OK && rule.move == ServiceMove::OnSuccess) state = rule.next;
  return r;
}
