// Roll-off: corrects lens shading, the fall-off of light towards the corners,
// by multiplying each Bayer channel by a gain that varies smoothly over the
// frame. The tuning holds the gains at the 17 x 13 corners of a 16 x 12 grid
// of cells; the block takes, per channel and grid row, the gain at the row's
// left edge and the per-pixel change of gain across each cell, so the steps
// depend on the cell width of the current camera-interface window. Sends
// VFE_CMD_ROLLOFF (6) with 1784 bytes (no update command). Keys
// "Rolloff-Enable", "Rolloff-ControlEnable"; fed by the camera interface's
// window and skip factors, and for stills by the illuminant (settings slot
// 22), lux index (24), gain (29), image effect (6, 7) and luma adaptation (34).
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CRolloffConfiguration : public CVfeSwitchedConfiguration<VfeRolloffCmd> {
 public:
  static constexpr TuningParamId kDefaultTable = 0x80600100u;
  static constexpr TuningParamId kLowLightTable = 0x80600103u;

  int32_t GetCommandId() override { return VFE_CMD_ROLLOFF; }

  // Recomputes the payload; 0 or the failing read's code. Does not send.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);

  // The table the payload's gains come from (0 before any was loaded).
  TuningParamId GetLoadedTable() const { return m_loadedTable; }

  CRolloffConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void Run(IVfeSettings* settings, VfeChain chain);
  void SetGrid(double width, double height, bool defaultGrid);
  void LoadTables(TuningParamId table, uint32_t cellWidth);
  TuningParamId ChooseTable(IVfeSettings* settings);

  TuningParamId m_loadedTable = 0;
};
