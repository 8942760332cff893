/* Result codes of the Whorlgate API and the client error codes. */
#ifndef WHORLGATE_WG_RESULTS_H
#define WHORLGATE_WG_RESULTS_H

#include <stdint.h>

/* Result codes: signed 16-bit, shared with the server. 0 to 9 are outcomes. */
#define WG_OK 0
#define WG_UNKNOWN 1
#define WG_MATCH 2
#define WG_NO_MATCH 3
#define WG_USER_ALREADY_ENROLLED 4
#define WG_NO_IMAGE 5
#define WG_USER_CANCELED 6
#define WG_MAX_USER_FINGERS_ENROLLED 7
#define WG_IMAGE_RDY 8
#define WG_BAD_IMAGE 9

/* Failures. */
#define WG_BAD_POINTER (-114)
#define WG_NOT_SUPPORTED (-116)
#define WG_BAD_ARGUMENT (-117)
#define WG_OUT_OF_MEMORY (-125)
#define WG_SENSOR_BUSY (-126)
#ifndef WG_FUNCTION_FAILED
#define WG_FUNCTION_FAILED (-127)
#endif

typedef int16_t WGResult;

/* Client error codes: kept in the client error record, read by WhorlgateGetResultDetails. */
#define WGERR_NOT_ENOUGH_MEMORY 521
#define WGERR_SERVER_NOT_RESPONDING 530
#define WGERR_PARAMETER_INVALID 531
#define WGERR_FATAL_CLIENT_FAULT 535
#define WGERR_CLIENT_SERVER_COMM_ERROR 536
#define WGERR_IMAGE_REQUEST_REFUSED 537
#define WGERR_CLIENT_PREV_TRNSACTN_IN_PROG 538
#define WGERR_CLIENT_NO_CURRENT_TRNSACTN 539

/* Flag bits of a client error report. */
#define WGERR_FLAG_CLIENT_FAULT 0x01u  /* the client cannot go on as it was */
#define WGERR_FLAG_CALLER_FAULT 0x02u  /* the caller used the interface wrongly */
#define WGERR_FLAG_FATAL 0x80u         /* sticky: stays set until the library is unloaded */
#define WGERR_FLAG_STICKY_MASK 0x180u

#endif
