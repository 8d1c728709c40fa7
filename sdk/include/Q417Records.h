/* The selector state records exchanged with the device API library.

   An update packet (and a next-state table, which has the same layout) is a signed 32-bit
   record count N followed by N packed TQ417DeviceState records of 17 bytes each; record i
   starts at byte 4 + 17 * i. Every multi-byte field is little-endian. The structs below give
   the in-memory view on little-endian hosts; portable code reads and writes the bytes through
   Q417Packet.h instead. Plain C, no platform headers. */
#ifndef Q417RECORDS_H
#define Q417RECORDS_H

#include <stdint.h>

#pragma pack(push, 1)

typedef struct TQ417State {
  uint8_t Q417_Mode;      /* 0 = off, 1 to 3 the other modes */
  uint8_t Q417_Select;    /* one-bit channel mask: channel k is 1 << (k - 1); 0 = none */
  uint8_t Q417_Indicator; /* 1 = on, 0 = off */
  uint16_t Q417_Delay;    /* tenths of a millisecond */
} TQ417State;

typedef struct TQ417DeviceState {
  int32_t Q417_DeviceID;  /* the selector's id */
  int32_t Q417_VersionID; /* four version bytes, most significant (byte 7 of the record) first */
  int32_t Q417_Error;     /* device error value, carried but not interpreted */
  TQ417State Q417_State;
} TQ417DeviceState;

#pragma pack(pop)

#define Q417_COUNT_SIZE 4
#define Q417_STATE_SIZE 5
#define Q417_RECORD_SIZE 17

#ifdef __cplusplus
static_assert(sizeof(TQ417State) == Q417_STATE_SIZE, "TQ417State is 5 packed bytes");
static_assert(sizeof(TQ417DeviceState) == Q417_RECORD_SIZE, "TQ417DeviceState is 17 packed bytes");
#else
_Static_assert(sizeof(TQ417State) == Q417_STATE_SIZE, "TQ417State is 5 packed bytes");
_Static_assert(sizeof(TQ417DeviceState) == Q417_RECORD_SIZE, "TQ417DeviceState is 17 packed bytes");
#endif

#endif
