/*
 * Stands in for VARNOX.dll to make the test program see another version
 * word: VARNOX_VERSION returns the hexadecimal value of the environment
 * variable VARNOX_SHIM_VERSION (0x011D when it is not set). Every other
 * function is forwarded to the real library, copied beside it as
 * VARNOXreal.dll (see VersionShim.def).
 */
#include <stdint.h>
#include <stdlib.h>

__declspec(dllexport) uint16_t VARNOX_VERSION(void) {
    const char* text = getenv("VARNOX_SHIM_VERSION");
    return (uint16_t)(text != NULL ? strtoul(text, NULL, 16) : 0x011Du);
}
