/*
 * A small C application of the library, run by the lifecycle tests in a
 * process of its own. It traces slots 0 and 1 into the two files given,
 * opens, purges, closes and opens again COMn in slot 0, prints every slot's
 * codes and texts, and returns normally, so the library's unload handling
 * writes the end of both traces. Built twice: linked against the library,
 * and loading it with dlopen (VIA_DLOPEN), which unloads it with dlclose.
 *
 * Usage: LifecycleChild TRACE0 TRACE1 COMNUMBER [LIBRARY]
 * Exit status: 0, or the number of the step that failed.
 */
#include <stdio.h>
#include <stdlib.h>

#include "device/VARNOX.h"

#ifdef VIA_DLOPEN
#include <dlfcn.h>

static struct {
    uint16_t (*version)(void);
    int32_t (*open)(uint16_t, uint16_t);
    int32_t (*close)(uint16_t);
    int32_t (*purge)(uint16_t);
    int32_t (*state)(uint16_t);
    const char* (*errormessage)(uint16_t);
    int32_t (*io_state)(uint16_t);
    const char* (*io_errormessage)(uint16_t);
    int32_t (*opendebugfile)(const char*, uint16_t);
} lib;

static void* Symbol(void* handle, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == NULL) {
        fprintf(stderr, "missing symbol %s\n", name);
        exit(20);
    }
    return symbol;
}
#define RESOLVE(field, name) *(void**)(&lib.field) = Symbol(handle, name)
#define CALL(field) lib.field
#else
#define CALL(field) CALL_##field
#define CALL_version VARNOX_VERSION
#define CALL_open VARNOX_OPEN
#define CALL_close VARNOX_CLOSE
#define CALL_purge VARNOX_PURGE
#define CALL_state VARNOX_STATE
#define CALL_errormessage VARNOX_ERRORMESSAGE
#define CALL_io_state VARNOX_IO_STATE
#define CALL_io_errormessage VARNOX_IO_ERRORMESSAGE
#define CALL_opendebugfile VARNOX_OPENDEBUGFILE
#endif

int main(int argc, char** argv) {
    uint16_t com;
    uint16_t slot;
    if (argc < 4) return 1;
    com = (uint16_t)atoi(argv[3]);
#ifdef VIA_DLOPEN
    if (argc < 5) return 1;
    void* handle = dlopen(argv[4], RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 21;
    }
    RESOLVE(version, "VARNOX_VERSION");
    RESOLVE(open, "VARNOX_OPEN");
    RESOLVE(close, "VARNOX_CLOSE");
    RESOLVE(purge, "VARNOX_PURGE");
    RESOLVE(state, "VARNOX_STATE");
    RESOLVE(errormessage, "VARNOX_ERRORMESSAGE");
    RESOLVE(io_state, "VARNOX_IO_STATE");
    RESOLVE(io_errormessage, "VARNOX_IO_ERRORMESSAGE");
    RESOLVE(opendebugfile, "VARNOX_OPENDEBUGFILE");
#endif
    if (CALL(version)() != 0x011E) return 2;
    if (CALL(opendebugfile)(argv[1], 0) != VARNOX_OK) return 3;
    if (CALL(opendebugfile)(argv[2], 1) != VARNOX_OK) return 4;
    if (CALL(open)(com, 0) != VARNOX_OK) return 5;
    if (CALL(purge)(0) != VARNOX_OK) return 6;
    if (CALL(close)(0) != VARNOX_OK) return 7;
    if (CALL(open)(com, 0) != VARNOX_OK) return 8;
    for (slot = 0; slot < 8; ++slot) {
        printf("%u %d %s|%d %s\n", (unsigned)slot, (int)CALL(state)(slot), CALL(errormessage)(slot),
               (int)CALL(io_state)(slot), CALL(io_errormessage)(slot));
    }
    fflush(stdout);
#ifdef VIA_DLOPEN
    if (dlclose(handle) != 0) return 22;
#endif
    return 0;
}
