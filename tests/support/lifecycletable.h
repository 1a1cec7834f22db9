// A service's life cycle as a table of rows, checked over a scripted driver:
// from a state, an operation (with one driver command refused, or none) gives
// an answer, sends the driver its life-cycle commands in that order and leaves
// the service in a state, holding a driver exactly while it is open and the
// client's settings view while it is open or suspended.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "scripteddriver.h"
#include "servicelifecycle.h"

namespace camera::test {

struct LifeCycleRow {
  ServiceState from;
  ServiceOperation operation;
  uint32_t refused;  // the driver command that fails with 1, or 0
  PvlResult answer;
  std::vector<uint32_t> sent;
  ServiceState to;
};

inline const char* StateName(ServiceState state) {
  switch (state) {
    case ServiceState::Detecting: return "Detecting";
    case ServiceState::Detected: return "Detected";
    case ServiceState::Suspended: return "Suspended";
    case ServiceState::Initialized: return "Initialized";
    case ServiceState::Started: return "Started";
  }
  return "?";
}

inline const char* OperationName(ServiceOperation operation) {
  switch (operation) {
    case ServiceOperation::Initialize: return "Initialize";
    case ServiceOperation::Uninitialize: return "Uninitialize";
    case ServiceOperation::Start: return "Start";
    case ServiceOperation::Stop: return "Stop";
    case ServiceOperation::Reset: return "Reset";
    case ServiceOperation::Suspend: return "Suspend";
    case ServiceOperation::Resume: return "Resume";
  }
  return "?";
}

// "Started_Stop", or "Started_Stop_Refused" with `refusedName` as given.
inline std::string RowName(const LifeCycleRow& row, const char* refusedName) {
  std::string name = std::string(StateName(row.from)) + "_" + OperationName(row.operation);
  if (row.refused) name += std::string("_") + refusedName + "Refused";
  return name;
}

inline std::ostream& operator<<(std::ostream& os, const LifeCycleRow& row) {
  os << StateName(row.from) << " " << OperationName(row.operation);
  if (row.refused) os << ", the driver refusing 0x" << std::hex << row.refused << std::dec;
  return os;
}

// Over a ScriptedServiceTest fixture `Base` of a service whose driver class is
// `driverClass`; `lifeCycle` lists the driver commands the rows count.
template <class Base>
class LifeCycleTableTest : public Base, public ::testing::WithParamInterface<LifeCycleRow> {
 protected:
  void CheckRow(uint32_t driverClass, const std::vector<uint32_t>& lifeCycle) {
    const LifeCycleRow& row = this->GetParam();
    Reach(row.from, driverClass);
    if (this->HasFatalFailure()) return;
    this->script_.calls.clear();
    if (row.refused) this->script_.answers[row.refused] = PVL_E_FAIL;

    EXPECT_EQ(Apply(row.operation, driverClass), row.answer);
    std::vector<uint32_t> sent;
    for (const DriverCall& call : this->script_.calls)
      for (uint32_t command : lifeCycle)
        if (call.command == command) sent.push_back(command);
    EXPECT_EQ(sent, row.sent);
    EXPECT_EQ(this->Self()->GetState(), row.to);
    const bool open = row.to == ServiceState::Initialized || row.to == ServiceState::Started;
    EXPECT_EQ(this->Self()->HoldsDriver(), open);
    EXPECT_EQ(this->Self()->HoldsConfiguration(), open);
    EXPECT_EQ(this->Self()->HoldsSettings(), open || row.to == ServiceState::Suspended);
    this->script_.answers.erase(row.refused);
  }

 private:
  // A new service brought to `state` by its own operations.
  void Reach(ServiceState state, uint32_t driverClass) {
    ASSERT_EQ(PVL_OK, this->Create());
    if (state == ServiceState::Detected) return;
    ASSERT_EQ(PVL_OK, this->service_->Initialize(driverClass, &this->view_));
    if (state == ServiceState::Started) ASSERT_EQ(PVL_OK, this->service_->Start());
    if (state == ServiceState::Suspended) ASSERT_EQ(PVL_OK, this->service_->Suspend());
    ASSERT_EQ(this->Self()->GetState(), state);
  }

  PvlResult Apply(ServiceOperation operation, uint32_t driverClass) {
    auto* service = this->service_.Get();
    switch (operation) {
      case ServiceOperation::Initialize: return service->Initialize(driverClass, &this->view_);
      case ServiceOperation::Uninitialize: return service->Uninitialize();
      case ServiceOperation::Start: return service->Start();
      case ServiceOperation::Stop: return service->Stop();
      case ServiceOperation::Reset: return service->Reset();
      case ServiceOperation::Suspend: return service->Suspend();
      case ServiceOperation::Resume: return service->Resume();
    }
    return PVL_E_FAIL;
  }
};

}  // namespace camera::test

inline void PrintTo(ServiceState state, std::ostream* os) { *os << camera::test::StateName(state); }
