/*
 * VARNOX: drives small digital I/O modules (5-bit input and output states)
 * on serial ports. Public C interface of the shared library.
 *
 * Up to eight modules are served at once, each in a port slot addressed by a
 * PortNumber 0..7. Every function that takes a PortNumber first tests it: 8
 * or more returns VARNOX_PORTNUMBER_OUT_OF_RANGE (the message functions
 * return "PortNumber out of range") and has no other effect.
 *
 * Each slot remembers the result of its last storing call (VARNOX_STATE);
 * the serial-level cause of a failure stays readable as the slot's
 * ErrorState (VARNOX_IO_STATE). Output parameters are written only when the
 * result is VARNOX_OK. Text results are static strings owned by the library.
 *
 * The library is not thread-safe: calls must not overlap, not even for
 * different slots.
 *
 * Usable from C and C++.
 */
#ifndef VARNOX_DEVICE_VARNOX_H
#define VARNOX_DEVICE_VARNOX_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(VARNOX_BUILDING_LIBRARY)
#define VARNOX_API __declspec(dllexport)
#else
#define VARNOX_API __declspec(dllimport)
#endif
#else
#define VARNOX_API __attribute__((visibility("default")))
#endif

/* The version word: high byte major, low byte minor in hundredths (1.30). */
#define VARNOX_VERSION_WORD 0x011E

/*
 * Every result code with the text VARNOX_ERRORMESSAGE gives for it, as one
 * list: X(name, value, text). Codes without a text of their own give
 * "Unknown error", as does every value not listed.
 */
#define VARNOX_RESULT_CODE_LIST(X)                                   \
    X(VARNOX_NO_DATA, 1, "No data is available")                     \
    X(VARNOX_OK, 0, "No error")                                      \
    X(VARNOX_PORTNUMBER_OUT_OF_RANGE, -1, "PortNumber out of range") \
    X(VARNOX_ERROR_OPEN, -3, "Error opening the port")               \
    X(VARNOX_ERROR_CLOSE, -4, "Error closing the port")              \
    X(VARNOX_ERROR_PURGE, -5, "Error purging the port")              \
    X(VARNOX_ERROR_SEND, -6, "Error sending command")                \
    X(VARNOX_ERROR_RECEIVE, -7, "Error receiving command")           \
    X(VARNOX_ERROR_WRONG_COMMAND, -8, "Wrong command received")      \
    X(VARNOX_ERROR_WRONG_ARGUMENT, -9, "Wrong argument received")    \
    X(VARNOX_ERROR_DEBUGFILE_OPEN, -400, "Unknown error")            \
    X(VARNOX_ERROR_DEBUGFILE_CLOSE, -401, "Unknown error")

#define VARNOX_RESULT_CODE_ENUMERATOR(name, value, text) name = (value),
enum VARNOX_ResultCode { VARNOX_RESULT_CODE_LIST(VARNOX_RESULT_CODE_ENUMERATOR) };
#undef VARNOX_RESULT_CODE_ENUMERATOR

#ifdef __cplusplus
extern "C" {
#endif

/* Always VARNOX_VERSION_WORD. Touches nothing. */
VARNOX_API uint16_t VARNOX_VERSION(void);

/*
 * Opens the serial device COMn (ComNumber n) in the slot: 9600 baud, 8 data
 * bits, even parity, one stop bit, no flow control, DTR raised, RTS lowered.
 * The device is held for exclusive use. On Linux, COMn is
 * $VARNOX_DEVICE_DIR/COMn when that variable is set, else /dev/ttyS<n-1>.
 * Returns VARNOX_OK, -1 or VARNOX_ERROR_OPEN (VARNOX_IO_STATE tells the
 * stage: 2 already open or cannot open, 3..6 or 10 configuration; from 3 on
 * the device stays held until VARNOX_CLOSE). Stored.
 */
VARNOX_API int32_t VARNOX_OPEN(uint16_t ComNumber, uint16_t PortNumber);

/*
 * Lowers RTS and DTR and releases the device. Returns VARNOX_OK, -1 or
 * VARNOX_ERROR_CLOSE (ErrorState 1: not open; 10: lines not reset, still
 * open; 0: the system refused to release the device, which is given up all
 * the same). Stored.
 */
VARNOX_API int32_t VARNOX_CLOSE(uint16_t PortNumber);

/* Discards pending input and output. VARNOX_OK, -1 or VARNOX_ERROR_PURGE. Stored. */
VARNOX_API int32_t VARNOX_PURGE(uint16_t PortNumber);

/* The slot's stored result code, or -1. Stores nothing. */
VARNOX_API int32_t VARNOX_STATE(uint16_t PortNumber);

/* The text of the slot's stored result code. Stores nothing. */
VARNOX_API const char* VARNOX_ERRORMESSAGE(uint16_t PortNumber);

/* The slot's serial ErrorState (0..11), or -1. Stores nothing. */
VARNOX_API int32_t VARNOX_IO_STATE(uint16_t PortNumber);

/* The text of the slot's serial ErrorState. Stores nothing. */
VARNOX_API const char* VARNOX_IO_ERRORMESSAGE(uint16_t PortNumber);

/*
 * Starts a trace of the slot into FileName (appended, created when missing).
 * A trace already open for the slot is closed first with its closing entry.
 * Returns VARNOX_OK, -1, VARNOX_ERROR_DEBUGFILE_OPEN (the file cannot be
 * opened; also for a null FileName) or VARNOX_ERROR_DEBUGFILE_CLOSE (closing
 * the previous trace failed; the new file is not opened). Stored.
 */
VARNOX_API int32_t VARNOX_OPENDEBUGFILE(const char* FileName, uint16_t PortNumber);

/*
 * Ends the slot's trace with its closing entry and closes the file. Returns
 * VARNOX_OK, -1 or VARNOX_ERROR_DEBUGFILE_CLOSE. Stores VARNOX_OK only when
 * the slot had no trace; after closing a trace it stores nothing.
 */
VARNOX_API int32_t VARNOX_CLOSEDEBUGFILE(uint16_t PortNumber);

/*
 * Module functions. Each sends a command frame to the slot's module and,
 * for queries, reads and checks the reply. Results: VARNOX_OK, -1,
 * VARNOX_ERROR_SEND (the command could not be sent), VARNOX_ERROR_RECEIVE
 * (no reply letter within 200 ms, or the read failed), VARNOX_ERROR_WRONG_COMMAND
 * (another reply letter; that reply is consumed), VARNOX_ERROR_WRONG_ARGUMENT
 * (the reply holds no hexadecimal number, or one out of range or too wide for
 * the value). All are stored. Bytes the module sends beyond a reply start the
 * next reply read on the slot.
 */

/* Input state 0..31 ('i', reply 'I' + 2 hex digits). */
VARNOX_API int32_t VARNOX_GETINPUT(uint16_t* InputState, uint16_t PortNumber);

/* Output state 0..31 ('O', reply 'O' + 2 hex digits). */
VARNOX_API int32_t VARNOX_GETOUTPUT(uint16_t* OutputState, uint16_t PortNumber);

/*
 * Sets the output state ('O' + two hex digits); no reply is read. A state of
 * 32 or more gives VARNOX_ERROR_WRONG_ARGUMENT and sends nothing.
 */
VARNOX_API int32_t VARNOX_SETOUTPUT(uint16_t OutputState, uint16_t PortNumber);

/*
 * Switches on automatic input ('I'): the module then reports every change of
 * its inputs on its own. No reply is read; collect reports with
 * VARNOX_CHECKINPUT. VARNOX_OK, -1 or VARNOX_ERROR_SEND.
 */
VARNOX_API int32_t VARNOX_AUTOINPUT(uint16_t PortNumber);

/*
 * Collects one input report. Never waits when nothing has arrived: then
 * VARNOX_NO_DATA (also on a slot whose port is not open). VARNOX_OK with the
 * reported state, or -1, VARNOX_ERROR_RECEIVE, VARNOX_ERROR_WRONG_COMMAND,
 * VARNOX_ERROR_WRONG_ARGUMENT, each traced. Stored.
 */
VARNOX_API int32_t VARNOX_CHECKINPUT(uint16_t* InputState, uint16_t PortNumber);

/* Firmware version word ('V', reply 'V' + 4 hex digits). */
VARNOX_API int32_t VARNOX_FW_VER(uint16_t* Version, uint16_t PortNumber);

/*
 * Firmware date ('D'): up to 12 characters as the module sends them (a
 * closing CR included) and a zero. Date needs at least 13 bytes. A reply
 * without text gives VARNOX_OK and an empty text.
 */
VARNOX_API int32_t VARNOX_FW_DATE(char* Date, uint16_t PortNumber);

/*
 * Product identification ('P'): up to 256 characters and a zero; ProductId
 * needs at least 257 bytes. Unless the module sends exactly 256 characters
 * the call ends 100 ms after the last one.
 */
VARNOX_API int32_t VARNOX_PROD_ID(char* ProductId, uint16_t PortNumber);

/* Product number ('N', reply 'N' + 8 hex digits). */
VARNOX_API int32_t VARNOX_PROD_NO(uint32_t* ProductNumber, uint16_t PortNumber);

/*
 * The value functions return the state itself and leave the result code in
 * VARNOX_STATE. When the call failed (or, for VARNOX_RETINPUTDATA, no report
 * was waiting) they return VARNOX_NO_VALUE, which no module state can take.
 */
#define VARNOX_NO_VALUE 0xFFFFu
VARNOX_API uint16_t VARNOX_RETINPUT(uint16_t PortNumber);     /* VARNOX_GETINPUT */
VARNOX_API uint16_t VARNOX_RETINPUTDATA(uint16_t PortNumber); /* VARNOX_CHECKINPUT */
VARNOX_API uint16_t VARNOX_RETOUTPUT(uint16_t PortNumber);    /* VARNOX_GETOUTPUT */

#ifdef __cplusplus
}
#endif

#endif
