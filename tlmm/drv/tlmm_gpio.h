// The chipset's GPIO driver: camera pins by signal number through the pin
// multiplexer and the GPIO bank registers.
#ifndef TLMM_GPIO_H
#define TLMM_GPIO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  GPIO_SIGNAL_COUNT = 684,  // signals 0..683
  GPIO_NO_MAPPING = 684,    // "no mapping": refused by every operation
  GPIO_NUMBER_COUNT = 165,  // GPIOs 0..164
};

// Signals the camera uses.
enum {
  GPIO_SIGNAL_CAM_MCLK = 92,     // GPIO 15
  GPIO_SIGNAL_CAM_101 = 101,     // GPIO 17
  GPIO_SIGNAL_CAM_143 = 143,     // GPIO 27
  GPIO_SIGNAL_CAM_159 = 159,     // GPIO 33
  GPIO_SIGNAL_CAM_588 = 588,     // GPIO 142
  GPIO_SIGNAL_CAM_594 = 594,     // GPIO 143
  GPIO_SIGNAL_CAM_RESET = 600,   // GPIO 144
};

// Configures the pin of a signal from its configuration word.
void gpio_tlmm_config(uint32_t signal);
// Drives the signal's output high (non-zero) or low.
void gpio_out(uint32_t signal, uint32_t value);
// 1 when the signal's input is high, else 0.
uint32_t gpio_in(uint32_t signal);

// The default signal of a GPIO number; GPIO_NO_MAPPING for numbers of 165 or
// more and for GPIOs without one.
uint32_t gpio_default_signal(uint32_t gpio);
// The configuration word of a signal (0 for signals out of range).
uint32_t gpio_signal_config(uint32_t signal);
// The last configuration word applied to a GPIO (0x2ff10 before any).
uint32_t gpio_shadow_config(uint32_t gpio);

#ifdef __cplusplus
}
#endif

#endif  // TLMM_GPIO_H
