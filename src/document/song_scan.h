// Number scanning of the song file: strtoul with base 0, held to 32 bits.
#pragma once

#include <cstdint>

struct scan_result_t {
    uint32_t value;
    const char* end;   // where the number ended; the start when no digits
    bool digits;       // false when no digits followed
};

// Scans [p, end): white space, an optional sign, then 0x-hex, 0-octal or
// decimal digits. Saturates at 4294967295; a minus negates modulo 2^32.
scan_result_t scan_u32(const char* p, const char* end);
