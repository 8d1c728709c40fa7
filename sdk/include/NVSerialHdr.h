/* The serial library NVSerial: opens the serial devices of a device type one by one, reports
   their port names, closes them, and gives client libraries line-oriented serial I/O with
   time-outs. The device host links its import library; client libraries may too.

   A reference identifies one open device until NVSerial_Close; references are never reused
   within a process. Every entry answers an unknown or closed reference with
   ERROR_INVALID_HANDLE (6), also while another thread is using or closing it. Result codes are
   0 for success or a system error code:
     6    ERROR_INVALID_HANDLE     unknown or closed reference
     87   ERROR_INVALID_PARAMETER  a null or out-of-range argument
     258  WAIT_TIMEOUT             the I/O did not complete within its time-out
     259  ERROR_NO_MORE_ITEMS      NVSerial_OpenDevice found no further device
   and the system's code for a failed port operation.

   Strings returned to the caller are allocated with CoTaskMemAlloc; the caller frees them with
   CoTaskMemFree. */
#ifndef NVSERIALHDR_H
#define NVSERIALHDR_H

#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Callers import the entries; a library that implements them defines NVSERIAL_DECL as empty
   before including this header and names the exports in a .def file. */
#ifndef NVSERIAL_DECL
#define NVSERIAL_DECL __declspec(dllimport)
#endif

/* Opens the next device of DeviceType that is not open yet and writes its reference. 0 = a
   device was opened; any other result: no further device can be opened now. */
NVSERIAL_DECL int32_t WINAPI NVSerial_OpenDevice(int32_t* Ref, uint32_t DeviceType, int32_t BaudRate);

/* *PortName receives the device's port name in the serial port map's form (for example COM7),
   CoTaskMem-allocated; *Unused receives the device's id. Either pointer may be NULL. */
NVSERIAL_DECL int32_t WINAPI NVSerial_DeviceMeta(int32_t Ref, wchar_t** PortName, int32_t* Unused);

/* Closes the device. I/O that another thread has in progress on it ends with its own result;
   the port itself is released when that I/O has returned. */
NVSERIAL_DECL int32_t WINAPI NVSerial_Close(int32_t Ref);

/* Writes Length bytes, waiting at most TimeoutMs. */
NVSERIAL_DECL int32_t WINAPI NVSerial_Write(int32_t Ref, const uint8_t* Data, int32_t Length, int32_t TimeoutMs);

/* Reads up to Size bytes: returns as soon as some bytes have arrived, or with WAIT_TIMEOUT and
   *Received = 0 when none arrived within TimeoutMs. */
NVSERIAL_DECL int32_t WINAPI NVSerial_Read(int32_t Ref, uint8_t* Buffer, int32_t Size, int32_t* Received,
                                           int32_t TimeoutMs);

/* One exchange of the selectors' line protocol: discards unread input, sends Command followed by
   a line end, and waits at most TimeoutMs for one answer line. *Reply receives the line without
   its line end as a NUL-terminated CoTaskMem string (NULL on failure). */
NVSERIAL_DECL int32_t WINAPI NVSerial_Command(int32_t Ref, const char* Command, char** Reply, int32_t TimeoutMs);

#ifdef __cplusplus
}
#endif

#endif
