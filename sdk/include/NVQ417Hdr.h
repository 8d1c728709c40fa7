/* The device API library NVQ417API as the control panel links it: the selector records and
   the library's three entry points and two callback types. The library answers 997 for a
   request whose result follows through a callback. */
#ifndef NVQ417HDR_H
#define NVQ417HDR_H

#include <stdint.h>
#include <windows.h>

#include "Q417Records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Callers import the entries; a library that implements them defines NVQ417API_DECL as empty
   before including this header and names the exports in a .def file. */
#ifndef NVQ417API_DECL
#define NVQ417API_DECL __declspec(dllimport)
#endif

/* Called once after NVQ417_Initialise was accepted: Result 0 = initialised. Any thread. */
typedef BOOL(WINAPI* TNVQ417InitDone)(int32_t Result, void* UserData);

/* Delivers an update packet (count + records) after an accepted _NVQ417_Update. The bytes are
   valid only during the call. Any thread. */
typedef void(WINAPI* TNVQ417UpdateDone)(int32_t Unused, const uint8_t* Data, int32_t Length, void* UserData);

/* Fills *Ref with the library's reference for this client; 997 = accepted, InitDone follows. */
NVQ417API_DECL int32_t WINAPI NVQ417_Initialise(int32_t* Ref, int32_t* Scratch, TNVQ417InitDone InitDone,
                                                void* UserData);

/* A poll (NextState NULL) or a next-state table whose length follows from its count; the
   library is done with the table's bytes when it returns. 997 = accepted, UpdateDone follows. */
NVQ417API_DECL int32_t WINAPI _NVQ417_Update(int32_t Ref, int32_t* Scratch, const uint8_t* NextState, void** Slot,
                                             TNVQ417UpdateDone UpdateDone, void* UserData);

/* Ends this client's link; the reference is invalid afterwards. */
NVQ417API_DECL int32_t WINAPI NVQ417_Close(int32_t* Ref, int32_t* Scratch, void* Reserved1, void* Reserved2);

#ifdef __cplusplus
}
#endif

#endif
