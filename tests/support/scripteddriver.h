// A scripted ICameraDriver for the services' tests: it records every command
// with its input record, answers what the script says (0 by default), writes
// the script's record into a read's output, and reports what a sensor reports
// about its identity. Drivers made through ScriptedDriverFactory share the
// current script, so a test sees every driver a service created.
#pragma once

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "csensorinfo.h"
#include "icameradriver.h"
#include "ienv.h"

namespace camera::test {

struct DriverCall {
  uint32_t command;
  std::vector<uint8_t> input;
  uint32_t outputSize;
};

struct DriverScript {
  std::vector<DriverCall> calls;
  std::map<uint32_t, PvlResult> answers;               // command -> answer (else 0)
  std::map<uint32_t, std::vector<uint8_t>> outputs;    // what a read of the command writes
  std::map<uint32_t, uint32_t> reportedLength;         // else the output size
  std::string maker = "Maker", model = "Model";
  int identityReadsBeforeFailure = -1;                 // >= 0: the read after that many fails with 1
  int identityReads = 0;
  PvlResult createResult = PVL_OK;                     // what the factory answers
  std::atomic<int> live{0};                            // drivers alive now
  int created = 0;

  template <class R>
  void SetOutput(uint32_t command, const R& record) {
    outputs[command].assign(reinterpret_cast<const uint8_t*>(&record),
                            reinterpret_cast<const uint8_t*>(&record) + sizeof record);
  }
  void Answer(std::initializer_list<uint32_t> commands, PvlResult r) {
    for (uint32_t c : commands) answers[c] = r;
  }
  std::vector<uint32_t> Commands() const {
    std::vector<uint32_t> out;
    for (const DriverCall& c : calls) out.push_back(c.command);
    return out;
  }
  size_t CountOf(uint32_t command) const {
    size_t n = 0;
    for (const DriverCall& c : calls) n += c.command == command;
    return n;
  }
  // The words of the last record sent with a command.
  std::vector<int32_t> SentWords(uint32_t command) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->command == command && !it->input.empty()) {
        std::vector<int32_t> words(it->input.size() / 4);
        memcpy(words.data(), it->input.data(), words.size() * 4);
        return words;
      }
    }
    return {};
  }
  // The input of the last call of the command that carried one.
  template <class R>
  bool LastInput(uint32_t command, R* record) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->command == command && it->input.size() == sizeof(R)) {
        memcpy(record, it->input.data(), sizeof(R));
        return true;
      }
    }
    return false;
  }
};

class ScriptedDriver final : public ICameraDriver {
 public:
  explicit ScriptedDriver(DriverScript* script) : m_script(script) {
    ++m_script->live;
    ++m_script->created;
  }
  int32_t AddRef() override { return ++m_refs; }
  int32_t Release() override {
    int32_t n = --m_refs;
    if (n == 0) {
      --m_script->live;
      delete this;
    }
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_CAMERA_DRIVER) {
      AddRef();
      *out = this;
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult OptionalQueryA(void*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OptionalSetA(void*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OptionalQueryB(void*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OptionalSetB(void*) override { return PVL_E_UNSUPPORTED; }
  PvlResult Stop() override { return PVL_OK; }

  PvlResult Command(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength) override {
    DriverCall call{command, {}, outputSize};
    if (input) call.input.assign(static_cast<uint8_t*>(input), static_cast<uint8_t*>(input) + inputSize);
    m_script->calls.push_back(call);
    auto answer = m_script->answers.find(command);
    if (answer != m_script->answers.end() && answer->second != PVL_OK) return answer->second;
    if (command == ZUEUID_SENSOR_PROPERTY_IDENTITY && output) {
      if (m_script->identityReadsBeforeFailure >= 0 && m_script->identityReads++ >= m_script->identityReadsBeforeFailure)
        return PVL_E_FAIL;
      SensorIdentity* id = static_cast<SensorIdentity*>(output);
      Fill(&id->Maker, m_script->maker);
      Fill(&id->Model, m_script->model);
      Fill(&id->Identifier, "id");
    } else if (output) {
      auto it = m_script->outputs.find(command);
      if (it != m_script->outputs.end())
        memcpy(output, it->second.data(), it->second.size() < outputSize ? it->second.size() : outputSize);
    }
    if (outputLength) {
      auto length = m_script->reportedLength.find(command);
      *outputLength = length != m_script->reportedLength.end() ? length->second : outputSize;
    }
    return PVL_OK;
  }

 private:
  static void Fill(SensorIdentityText* text, const std::string& value) {
    text->Length = static_cast<uint32_t>(value.size() + 1);
    if (text->Buffer && text->Capacity >= text->Length)
      memcpy(reinterpret_cast<void*>(uintptr_t(text->Buffer)), value.c_str(), text->Length);
  }

  DriverScript* m_script;
  std::atomic<int32_t> m_refs{0};
};

// The script the factory's drivers follow; null makes the factory answer 3.
inline DriverScript*& CurrentDriverScript() {
  static DriverScript* script = nullptr;
  return script;
}

inline PvlResult ScriptedDriverFactory(IEnv*, ZUEUID, void*, void** out) {
  DriverScript* script = CurrentDriverScript();
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!script) return PVL_E_NOTSUPPORTED;
  if (script->createResult != PVL_OK) return script->createResult;
  ScriptedDriver* d = new ScriptedDriver(script);
  d->AddRef();
  *out = static_cast<ICameraDriver*>(d);
  return PVL_OK;
}

}  // namespace camera::test
