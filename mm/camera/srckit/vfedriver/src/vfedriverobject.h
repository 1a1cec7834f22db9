// The VFE driver object: the one way the VFE service programs the chipset's
// video front end (the image pipe between the sensor and memory). The service
// creates it by class (ZUEUID_CLASS_VFE_DRIVER) and sends numbered commands with
// raw payloads (vfedriver.h): reset, configure the blocks, start, latch updates,
// stop, hand back output and statistics buffers, and read the messages the
// interrupt side posts. Commands run under the driver lock, each checked
// against its payload size and the driver's phase; START, RESET and STOP wait
// up to 2 s for the hardware's acknowledge with the lock given up.
//
// There is one VFE, so the driver state is module-wide (vfedriverstate.h); only
// one driver object exists at a time. Creation switches the VFE clocks on and
// starts the platform library's interrupt thread; the owner calls Stop (which
// ends that thread) before its last Release, which switches the clocks off.
#pragma once

#include <stdint.h>

#include "icameradriver.h"
#include "ienv.h"
#include "vfedriverstate.h"

struct VfeDriverObject final : ICameraDriver {
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult OptionalQueryA(void* buffer, uint32_t bufferSize, uint32_t* length) override;
  PvlResult OptionalSetA(void* value) override;
  PvlResult OptionalQueryB(void* buffer, uint32_t bufferSize, uint32_t* length) override;
  PvlResult OptionalSetB(void* value) override;
  PvlResult Command(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength) override;
  PvlResult Stop() override;

  VfeDriverObject* self;   // checked by every operation
  volatile int32_t refs;   // 0 after construction, 1 when handed out
  IEnv* env;               // one reference
  VfeDriverLinks links;    // lock, acknowledge event, notify signals 1 and 2
  bool hardwareOn;         // clocks configured by this object
};

// The class's creator, reached from Corvane's class switch. 13 while another
// driver object exists.
PvlResult VfeDriver_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

// Test view of the module-wide state.
const VfeDriverState& VfeDriverStateForTest();
