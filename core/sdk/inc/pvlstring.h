// The modules' own string library: bounded copies that always terminate,
// ASCII case-insensitive comparisons, a number parser and a bounded
// printf-style formatter. Nothing here allocates. Null strings read as empty.
#ifndef PVLSTRING_H
#define PVLSTRING_H

#include <stdarg.h>
#include <stdint.h>

uint32_t pvl_strlen(const char* s);
int32_t pvl_strcmp(const char* a, const char* b);
int32_t pvl_stricmp(const char* a, const char* b);
// Over at most n characters; n below 1 gives 0.
int32_t pvl_strnicmp(const char* a, const char* b, int32_t n);
// First occurrence of c, or the terminating NUL when c is absent.
const char* pvl_strchrend(const char* s, int c);
// The position just after prefix when s begins with it, else null.
const char* pvl_strbegins(const char* s, const char* prefix);
// Copies at most size - 1 bytes and terminates (size > 0); returns strlen(src).
uint32_t pvl_strlcpy(char* dst, const char* src, uint32_t size);
// Appends within size, terminated; returns the length it tried to create.
uint32_t pvl_strlcat(char* dst, const char* src, uint32_t size);
// pvl_strlcpy for 16-bit strings; size in characters.
uint32_t pvl_wcslcpy(char16_t* dst, const char16_t* src, uint32_t size);
uint32_t pvl_wcslen(const char16_t* s);
// Nothing for a negative n.
void* pvl_memset(void* p, int c, int32_t n);
// Nothing for n of 0 or less; overlapping ranges are fine.
void* pvl_memmove(void* dst, const void* src, int32_t n);

// pvl_strtoul status values.
#define PVL_STRTOUL_OK 0
#define PVL_STRTOUL_NODIGITS 1
#define PVL_STRTOUL_OVERFLOW 3
#define PVL_STRTOUL_BADBASE 4
// Skips blanks and tabs, takes an optional sign; base 0 (hexadecimal after
// "0x", octal after a leading "0", else decimal) or 2..36. On overflow the result is 0xFFFFFFFF.
// *end (when given) is set after the last digit, or to s when there is none.
uint32_t pvl_strtoul(const char* s, const char** end, int32_t base, int32_t* status);

// Bounded formatter: conversions s c d i u o x X p (flags + - # blank 0, width
// and precision with '*', lengths z hh h j L ll l); floating conversions
// f F e E g G a A take a double (a long double with L). Returns the length of
// the full result without the NUL; stores what fits and always terminates
// a non-empty buffer. A negative size counts as 0.
int32_t pvl_vsnprintf(char* buffer, int32_t size, const char* format, va_list args);
int32_t pvl_snprintf(char* buffer, int32_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
