/* The SDK headers compile as C out of one folder, as they are installed: each finds what it
   includes beside itself. */
#include "NVQ417Hdr.h"
#include "NVSerialHdr.h"
#include "PellixHdr.h"
#include "NVErrorsU.h"
#include "Q417Records.h"

int q417_sdk_headers_check(void) { return NV_OK + Q417_RECORD_SIZE; }
