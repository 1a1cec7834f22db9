// Common set-up of the Senvar driver tests: the board at power-on (the sensor
// in reset, the LED off), a host environment whose lens-driver class is this
// test's own copy of the module code (so that the module-wide lens state the
// tests look at is the one the drivers use), and readers of what the sensor
// saw on its bus.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "board_led.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "chipset_sim.h"
#include "cpvlptr.h"
#include "hostsymbols.h"  // the module's class switch, Mod_ClassFactory
#include "icameradriver.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "sensorconfigrecords.h"
#include "tuningdataprovider.h"
#include "wince_sim.h"


namespace senvartest {

// Table cases print as their names (test files bring it in with a using-declaration).
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

// One transfer to the sensor's slave as the board saw it.
struct Transfer {
  uint16_t reg;
  bool write;
  uint8_t value;  // the written byte (writes)
  bool ack;
  int64_t timeNs;
};

class SenvarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    CeSimClearFaults();
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, reinterpret_cast<void**>(env_.Out())));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, &Mod_ClassFactory));
    liveBlocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    OrbhostTest_FailAllocation(0);
    OrbhostTest_UnregisterAllClasses();
    env_.Reset();
  }

  // Creates the sensor driver on the board as it stands.
  PvlResult CreateSensor(CPvlPtr<ICameraDriver>& out) {
    return Mod_ClassFactory(env_.Get(), ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, nullptr,
                               reinterpret_cast<void**>(out.Out()));
  }
  // A sensor driver, powered up and programmed (the sensor streams preview).
  CPvlPtr<ICameraDriver> PoweredSensor() {
    CPvlPtr<ICameraDriver> sensor;
    EXPECT_EQ(PVL_OK, CreateSensor(sensor));
    if (sensor) {
      EXPECT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
    }
    BoardI2cClearRecords();
    BoardSensorClearLogs();
    return sensor;
  }

  static PvlResult Run(ICameraDriver* driver, uint32_t command) {
    return driver->Command(command, nullptr, 0, nullptr, 0, nullptr);
  }
  template <class In>
  static PvlResult Apply(ICameraDriver* driver, uint32_t command, const In& input) {
    In copy = input;
    return driver->Command(command, &copy, sizeof copy, nullptr, 0, nullptr);
  }
  template <class Out>
  static PvlResult Read(ICameraDriver* driver, uint32_t command, Out* output) {
    uint32_t length = 0;
    return driver->Command(command, nullptr, 0, output, sizeof *output, &length);
  }

  // The sensor slave's transfers since the records were last cleared.
  static std::vector<Transfer> Transfers() {
    std::vector<Transfer> out;
    for (const BoardI2cTransfer& t : BoardI2cTransfers()) {
      if (t.slave != kSensorSlave) continue;
      out.push_back({t.reg, t.write, t.write && !t.data.empty() ? t.data[0] : uint8_t(0), t.ack, t.timeNs});
    }
    return out;
  }
  // Acknowledged writes as (register, value).
  static std::vector<std::pair<uint16_t, uint8_t>> Writes() {
    std::vector<std::pair<uint16_t, uint8_t>> out;
    for (const Transfer& t : Transfers())
      if (t.write && t.ack) out.emplace_back(t.reg, t.value);
    return out;
  }
  static std::vector<uint16_t> ReadRegisters() {
    std::vector<uint16_t> out;
    for (const Transfer& t : Transfers())
      if (!t.write && t.ack) out.push_back(t.reg);
    return out;
  }
  // A 16-bit sensor register pair as the sensor holds it.
  static uint32_t Register16(uint16_t reg) {
    return (uint32_t(BoardSensorRegister(reg)) << 8) | BoardSensorRegister(uint16_t(reg + 1));
  }
  static bool ResetLineHigh() { return !BoardSensorState().inReset; }

  // Lines the framework's log function printed while `body` ran.
  template <class Body>
  static std::vector<std::string> LogLines(Body body) {
    OrbhostTest_MessageCaptureBegin();
    body();
    std::vector<std::string> lines;
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd()) lines.push_back(m.text);
    return lines;
  }
  static size_t CountContaining(const std::vector<std::string>& lines, const std::string& text) {
    size_t n = 0;
    for (const std::string& l : lines) n += l.find(text) != std::string::npos;
    return n;
  }

  CPvlPtr<IEnv> env_;
  uint32_t liveBlocks_ = 0;
};

}  // namespace senvartest
