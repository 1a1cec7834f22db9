// The engine's client properties: the vocabulary the driver maps its property
// sets onto (brightness, exposure compensation, flash modes, ...), each with its
// range, default and step. The front end registers them in its property store
// at construction; the store keeps its own copies, checks incoming values
// against the ranges and keeps the client's control mode as the attribute word.
#pragma once

#include <stdint.h>

#include "camerapropertyids.h"
#include "ipropertystore.h"

// The two groups (camerapropertyids.h) are registered in this order.

class CCameraEnginePropertyTable {
 public:
  static constexpr uint32_t kFirstGroupCount = 29;
  static constexpr uint32_t kSecondGroupCount = 7;

  // Builds the descriptors and registers both groups. A descriptor that could
  // not copy its texts or values (2) stops the registration; the store's result
  // is passed on.
  static PvlResult Register(IProperties* store);
};
