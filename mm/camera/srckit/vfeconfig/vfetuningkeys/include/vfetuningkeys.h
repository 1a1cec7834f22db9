// The VFE blocks' tuning keys: the 86 payload fields and switches that the VFE
// service publishes in its "VFE" runtime-tuning table, so that the PC tuning
// tool can read and change a block while the camera runs. This table is their
// one home; each block registers its own slice from its constructor, and the
// service builds the blocks in a fixed order, so every key keeps its index.
#pragma once

#include <stdint.h>

#include "ivfeservice.h"
#include "runtimetuningitem.h"

class CRuntimeTuning;
struct CTuningFlag;

// The blocks with keys, in the order the service creates them.
enum class VfeKeyBlock : uint8_t {
  ASF,
  BlackLevel,
  ChannelGain,
  ChromaSupp,
  ColorConv,
  ColorCorr,
  Demosaic,
  Gamma,
  Rolloff,
  AFStats,
  AWBExtStats,
  WhiteBalance,
  LumaAdaptation,
};

// What a key stands on: one of the block's two switches or a payload field.
enum class VfeKeyField : uint8_t { Enable, ControlEnable, Payload };

struct VfeTuningKey {
  const char* name;
  VfeKeyBlock block;
  VfeKeyField field;
  uint16_t offset;       // payload byte offset (payload keys)
  TuningValueType type;  // payload keys; switches take the registry's 2-byte unsigned type
  uint16_t count;
  uint32_t flags;        // 0x01: reported to the tool as it is
};

constexpr uint32_t kVfeTuningKeyCount = 86;
extern const VfeTuningKey kVfeTuningKeys[kVfeTuningKeyCount];

// Registers the block's keys over its payload and switches; nothing without a
// registry. A key whose field would lie past payloadSize, or whose switch is
// not given, is left out. Results of the registrations are not errors.
void VfeTuningKeys_Register(CRuntimeTuning* registry, VfeKeyBlock block, void* payload, uint32_t payloadSize,
                            CTuningFlag* enable, CTuningFlag* controlEnable);

// The same over a block's own payload record, through the registry its service
// keeps (none without a service).
template <class Payload>
void VfeTuningKeys_Register(IVfeServiceInternal* service, VfeKeyBlock block, Payload* payload, CTuningFlag* enable,
                            CTuningFlag* controlEnable) {
  VfeTuningKeys_Register(service ? service->GetRuntimeTuning() : nullptr, block, payload,
                         static_cast<uint32_t>(sizeof *payload), enable, controlEnable);
}
