/* The device host's boundary to client libraries: the shared array types and the two entry
   points that a client library exports (by these names, through a .def file) and the host
   loads from the library named on its command line.

   Memory that one side allocates and the other releases uses the COM task allocator
   (CoTaskMemAlloc / CoTaskMemRealloc / CoTaskMemFree). */
#ifndef PELLIXHDR_H
#define PELLIXHDR_H

#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A byte array. Data is CoTaskMem memory, or NULL when Length is 0. */
typedef struct TPellixBytes {
  uint8_t* Data;
  int32_t Length;
} TPellixBytes;

/* The references of the host's open serial devices (see NVSerialHdr.h), in opening order.
   Read-only for libraries; valid only during the call that passes it. */
typedef struct TNVSerialRefs {
  int32_t* Data;
  int32_t Length;
} TNVSerialRefs;

/* Called once at host start-up. All three are outputs. *DeviceTypeName receives a
   NUL-terminated UTF-16 string allocated with CoTaskMemAlloc (or stays NULL); the host owns it
   from then on and frees it with CoTaskMemFree. *BaudRate is not used by the host. */
typedef int32_t(WINAPI* TPELLIX_DeviceMeta)(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate);

/* One client request. The host owns Request (the library neither frees nor keeps it).
   Response arrives empty; the library may allocate or reallocate it with the COM task
   allocator; the host sends its bytes and frees it. *HelperPointer is the library's own slot,
   kept by the host from one call to the next and never read or freed by it. The result goes
   back to the client unchanged. Calls come one at a time, from any thread of the host. */
typedef int32_t(WINAPI* TPELLIX_DeviceUpdate)(TPellixBytes* Request, TPellixBytes* Response,
                                             const TNVSerialRefs* SerialRefs, void** HelperPointer);

/* The two exports of a client library, declared so that a library's definitions are checked
   against the types above. The host does not link them: it finds them by name. */
int32_t WINAPI _PELLIX_DeviceMeta(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate);
int32_t WINAPI _PELLIX_DeviceUpdate(TPellixBytes* Request, TPellixBytes* Response, const TNVSerialRefs* SerialRefs,
                                    void** HelperPointer);

#ifdef __cplusplus
}
#endif

#endif
