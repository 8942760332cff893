/* The server's serial (comm) port, used through the server: obtain it, read, write, hand it
   back, and ask the server to restart its own use of it. Each call blocks for up to ten seconds
   for the server's answer. Data buffers are the caller's; what the data of WGGetCommPort and
   WGReleaseCommPort hold is agreed between the application and the server. */
#ifndef WHORLGATE_WG_COMM_H
#define WHORLGATE_WG_COMM_H

#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"

/* The most data one call can carry: a message is 21 bytes plus the data, within 16 bits. A
   longer length is refused with WG_FUNCTION_FAILED before anything is sent. */
#define WG_COMM_PORT_MAX_DATA 65514

/* Obtains the port for the caller; the uiLength bytes at pData go to the server. */
WG_API WGResult WGGetCommPort(const uint8_t* pData, uint16_t uiLength);
/* Reads at most uiLength bytes into pBuffer (whose current bytes go to the server with the
   request) and sets *puiCount to the number read; on any failure *puiCount is 0 and pBuffer is
   untouched. ulReadParameter is passed to the server. */
WG_API WGResult WGReadCommPort(uint8_t* pBuffer, uint16_t uiLength, uint16_t* puiCount,
                               uint32_t ulReadParameter);
/* Writes the uiLength bytes at pData; pData may be null when uiLength is 0. */
WG_API WGResult WGWriteCommPort(const uint8_t* pData, uint16_t uiLength);
/* Hands the port back; the uiLength bytes at pData go to the server. */
WG_API WGResult WGReleaseCommPort(const uint8_t* pData, uint16_t uiLength);
/* Asks the server to restart its use of the port. WG_OK or WG_FUNCTION_FAILED. */
WG_API WGResult WGRestartCommPort(void);

#endif
