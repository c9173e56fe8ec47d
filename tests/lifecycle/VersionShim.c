/*
 * Preloaded in front of the library to make it report another version word
 * (taken from VARNOX_SHIM_VERSION, hexadecimal), so the test program's
 * version check can be seen to refuse an old library.
 */
#include <stdint.h>
#include <stdlib.h>

__attribute__((visibility("default"))) uint16_t VARNOX_VERSION(void) {
    const char* text = getenv("VARNOX_SHIM_VERSION");
    return (uint16_t)(text != NULL ? strtoul(text, NULL, 16) : 0);
}
