/* A minimal client library of the device host, built from the SDK headers alone. Its device
   type "EXAMPLE" (0x0000E001) needs no serial device: the update entry answers each request
   with the request's bytes in reverse order and counts its calls in the pointer slot. */
#include "PellixHdr.h"

#include <objbase.h>
#include <string.h>

#define EXAMPLE_DEVICE_TYPE 0x0000E001u

int32_t WINAPI _PELLIX_DeviceMeta(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate) {
  static const wchar_t name[] = L"EXAMPLE";
  if (DeviceType) *DeviceType = EXAMPLE_DEVICE_TYPE;
  if (BaudRate) *BaudRate = 115200;
  if (DeviceTypeName) {
    /* The host frees the name with CoTaskMemFree. */
    *DeviceTypeName = (wchar_t*)CoTaskMemAlloc(sizeof name);
    if (*DeviceTypeName == NULL) return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(*DeviceTypeName, name, sizeof name);
  }
  return 0;
}

int32_t WINAPI _PELLIX_DeviceUpdate(TPellixBytes* Request, TPellixBytes* Response, const TNVSerialRefs* SerialRefs,
                                    void** HelperPointer) {
  uint8_t* data;
  int32_t i;
  (void)SerialRefs;
  if (Request == NULL || Response == NULL || HelperPointer == NULL || Request->Length < 0 ||
      (Request->Length > 0 && Request->Data == NULL))
    return ERROR_INVALID_PARAMETER;

  /* The counter is the slot's value itself, not memory it points to: the host never frees the
     slot, so anything allocated for it would outlive every call. */
  *HelperPointer = (void*)((uintptr_t)*HelperPointer + 1);

  if (Request->Length == 0) return 0; /* the response stays empty */
  data = (uint8_t*)CoTaskMemRealloc(Response->Data, (SIZE_T)Request->Length);
  if (data == NULL) return ERROR_NOT_ENOUGH_MEMORY; /* Response is left as it came */
  for (i = 0; i < Request->Length; ++i) data[i] = Request->Data[Request->Length - 1 - i];
  Response->Data = data;
  Response->Length = Request->Length;
  return 0;
}
