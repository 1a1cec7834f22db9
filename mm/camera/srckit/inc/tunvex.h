// The tuning server: serves every registered table of tunable values to the
// PC tuning tool over TCP, and writes all values as text for a capture's JPEG.
#pragma once

#include "cruntimetuning.h"
#include "pvlbase.h"

#define ZUEUID_CLASS_TUNINGSERVER 0x0106fa8au
#define ZUEUID_ITUNVEX 0x0106fa8bu

// Item flag bits that registrants set and the server reads.
#define TUNVEX_FLAG_INFO 0x01u      // reported to the tool unchanged
#define TUNVEX_FLAG_HIDDEN 0x08u    // never listed
#define TUNVEX_FLAG_NO_JPEG 0x20u   // left out of the JPEG text
#define TUNVEX_FLAG_TUNINGDATA 0x40u  // added by the server to the items of "TuningData"
#define TUNVEX_FLAG_SUMMARY 0x80u   // cumulative summary ("3A") item

class ITunvex : public IPvlBase {
 public:
  // Adds a group of the provider's items under `name` (cut to 19 characters).
  // The server keeps the provider without a reference: its owner must call
  // Unregister before the registry goes away. 14 for a null provider or name,
  // 14 when the group would take the total past 65535 items, else the
  // provider's GetNumItems failure or 0.
  virtual PvlResult Register(IRuntimeTuning* provider, const char* name) = 0;
  // Starts the protocol thread; always 0.
  virtual PvlResult Start() = 0;
  // Writes "name=v0,v1,...\n" for every value. With no buffer, `needed` gets
  // the size to allocate; with one, `written` gets the bytes written (the text
  // is cut at the end of the buffer and always terminated). Always 0.
  virtual PvlResult SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) = 0;
  // Removes every group and summary item of this provider; the server no longer
  // calls it once this returns. 0, or 14 for a provider never registered.
  virtual PvlResult Unregister(IRuntimeTuning* provider) = 0;

 protected:
  ~ITunvex() = default;
};
