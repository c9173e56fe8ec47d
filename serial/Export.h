// Marks what the shared library exports. Everything else is built with
// hidden visibility, so only COMPort and the VARNOX_ functions are visible.
#ifndef VARNOX_SERIAL_EXPORT_H
#define VARNOX_SERIAL_EXPORT_H

#if defined(_WIN32)
#if defined(VARNOX_BUILDING_LIBRARY)
#define VARNOX_EXPORT __declspec(dllexport)
#else
#define VARNOX_EXPORT __declspec(dllimport)
#endif
#else
#define VARNOX_EXPORT __attribute__((visibility("default")))
#endif

#endif
