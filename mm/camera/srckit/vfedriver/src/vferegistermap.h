// The front end's status registers the interrupt routine reads, as the
// hardware gives them. Offsets are from the VFE register base.
#ifndef VFEREGISTERMAP_H
#define VFEREGISTERMAP_H

#include <stdint.h>

namespace vfereg {

constexpr uint32_t kIrqClear = 0x01C;   // write 1s to clear status bits
constexpr uint32_t kIrqStatus = 0x020;  // event bits since the last clear

// Path status: four words per output path, cleared by reset. The routine
// reads all eight words at each interrupt, OUTPUT2's block first.
constexpr uint32_t kPathStatusOutput2 = 0x0D0;
constexpr uint32_t kPathStatusOutput1 = 0x0E0;
constexpr uint32_t kPathStatusWords = 4;
enum PathStatusWord : uint32_t {
  kPathFaults = 0,        // fault flags below, sticky until reset
  kPathLostFrames = 1,    // frames the path lost since reset, whatever the fault
  kPathFailedAddress = 2, // physical address of the last refused or failed write
  kPathArmed = 3,         // low byte 1 once the write masters are armed
};
// The lost-frame counts the driver turns into drops: 0x0E4 and 0x0D4.
constexpr uint32_t kOutput1LostFrames = kPathStatusOutput1 + 4 * kPathLostFrames;
constexpr uint32_t kOutput2LostFrames = kPathStatusOutput2 + 4 * kPathLostFrames;

// Fault flags of word 0.
enum PathFault : uint32_t {
  kFaultOverflow = 1u << 0,          // a frame came before the path could take it
  kFaultBusError = 1u << 1,          // the bus refused a write
  kFaultGeometryMismatch = 1u << 2,  // write master smaller than the image
  kFaultAddressRefused = 1u << 3,    // an address outside the frame memory
  kFaultPayloadRefused = 1u << 4,    // a block payload the pipeline cannot run
};

}  // namespace vfereg

#endif  // VFEREGISTERMAP_H
