// CUserDataAggregate: the object the engine hands to its services and
// plug-ins; each asks it for its settings view by interface identifier.
#pragma once

#include "cpvlobject.h"
#include "csettingsviews.h"

class CUserDataAggregate final : public CPvlObject {
 public:
  // The aggregate with one reference, or 2 out of memory, or the failing view's code.
  static PvlResult New(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip,
                       CUserDataAggregate** out);

  // The six view identifiers go to their views (20 for a view that is missing).
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

 private:
  CUserDataAggregate(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip, PvlResult* result);
  ~CUserDataAggregate() override;

  enum { AEC, AF, AWB, FLASH, SENSOR, VFE, VIEW_COUNT };
  CPvlObject* m_views[VIEW_COUNT];  // each holding one reference
};
