// The chipset's driver libraries as the platform library calls them:
// contiguous memory, register windows and their 32-bit access primitives,
// clock regimes, camera pin configuration, the diagnostic service, clock
// pause and the interrupt lock.
#ifndef CHIPSET_H
#define CHIPSET_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Physically contiguous, uncached memory --------------------------------
// Physical addresses are 32-bit. pmem_get_phys_addr answers 0 for any address
// that does not lie inside a block from pmem_malloc.
void* pmem_malloc(uint32_t size, uint32_t flags);
void pmem_free(void* virtualAddress);
uint32_t pmem_get_phys_addr(void* virtualAddress);

// ---- Register windows -------------------------------------------------------
// Maps size bytes of the physical window at physicalAddress (uncached). Every
// mapping of the same window gives the same address. Null when the range
// cannot be mapped.
volatile void* get_virtual_address(uint32_t physicalAddress, uint32_t size);
void free_virtual_address(volatile void* virtualAddress);

// 32-bit register access. Device registers must be read and written through
// these so that registers with side effects behave.
uint32_t chip_reg_read32(volatile void* address);
void chip_reg_write32(volatile void* address, uint32_t value);

// ---- Clock regimes ----------------------------------------------------------
void clk_regime_krs_enable(uint32_t regime);
void clk_regime_krs_disable(uint32_t regime);
void clk_regime_sel_vfe_clk(uint32_t selection);
void clk_regime_sel_vfe_src(uint32_t source);
void clk_regime_krs_sel_camclk(uint32_t frequency, uint32_t b);
// The clock device manager: named clients request resources.
int clk_regime_devman_register(const char* client);
int clk_regime_devman_deregister(const char* client);
int clk_regime_devman_request(const char* client, uint32_t resource, uint32_t flags);
// Busy pause of the given number of microseconds.
void clk_pause(uint32_t microseconds);

// ---- Camera pins (remote client of the modem's GPIO service) ---------------
void gpio_camera_config(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
void gpio_camera_un_config(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// ---- Diagnostic service -----------------------------------------------------
// One diagnostic message description (16 bytes).
typedef struct msg_desc_type {
  uint16_t line;
  uint16_t subsystem;
  uint32_t levelMask;
  const char* text;
  const char* fileName;
} msg_desc_type;

void msg_send_1(const msg_desc_type* desc, uint32_t argument, uint32_t levelMask, const char* text);
void msg_send_3(const msg_desc_type* desc, uint32_t argument1, uint32_t argument2, uint32_t argument3);

// ---- Display 2D engine --------------------------------------------------------
// Blits between two surfaces (44-byte records) with a 16-byte parameter
// record; 0 on success.
int ddi_disp2d_blt(const void* source, const void* destination, const void* parameters, uint32_t flags);

// ---- Interrupt lock ---------------------------------------------------------
// Returns 0 when this call took the lock (release it with chip_int_free), and
// non-zero when the calling thread already held it (do not release).
int chip_int_lock(void);
void chip_int_free(void);

#ifdef __cplusplus
}  // extern "C"
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(msg_desc_type) == 16);
#endif
#endif

#endif  // CHIPSET_H
