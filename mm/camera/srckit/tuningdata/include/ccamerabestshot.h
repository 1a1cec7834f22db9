// CCameraBestShot: turns a scene mode into camera settings: the mode's row of
// the best-shot table as the tuning data's override, and six client
// properties overridden through the engine's property interface, the user's
// own values saved once so that Restore brings them back.
#pragma once

#include <stdint.h>

#include "bestshot.h"
#include "cpvlvariant.h"
#include "ipropertystore.h"

class CCameraBestShot {
 public:
  CCameraBestShot();

  // Mode 1..11 (14 otherwise, before anything changes).
  PvlResult Apply(int32_t mode, IProperties* properties);
  PvlResult Restore(IProperties* properties);
  bool IsApplied() const { return m_saved != 0; }

  enum { SAVED_HJR, SAVED_ISO, SAVED_METERING, SAVED_FOCUS, SAVED_WHITE_BALANCE, SAVED_LUMA_ADAPTATION, SAVED_COUNT };

 private:
  void MoveLensToInfinity(IProperties* properties);
  // The six saved user values as property values (identifier, value, mode word).
  void SavedValues(PvlPropertyValueRecord (&records)[SAVED_COUNT]) const;

  uint8_t m_saved;
  CPvlPropertyDesc m_user[SAVED_COUNT];
};
