/* The extended calls: the application asks the server for one image and builds and compares
   templates itself. The acquisition is a transaction (one at a time per process, its events by
   callback or by WGContinueTransaction, ended by WGEndAcquireImage or WGAbortTransaction);
   building and matching run in the calling process. The application allocates and frees every
   image buffer and template, with the sizes the size calls report. */
#ifndef WHORLGATE_WG_EXTENDED_H
#define WHORLGATE_WG_EXTENDED_H

#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"
#include "whorlgate/wg_transaction.h"

#pragma pack(push, 1)

/* Limits on the confidences of a comparison (falling: 10000 for no likeness down to 0; rising:
   0 up to 10000), replacing the server's minimum score when given to WGMatchTemplatePairEx. */
typedef struct WGMatchCriteria {
  uint16_t usFallingConfidenceLimit; /* match only when the falling confidence is at most this */
  uint16_t usRisingConfidenceLimit;  /* ... and the rising confidence at most this */
  uint32_t ulIgnoreRisingLimit;      /* not 0: the rising limit is not applied */
} WGMatchCriteria;

/* What WGMatchTemplatePairEx found. */
typedef struct WGMatchDetails {
  int32_t lMatched; /* 1 for WG_MATCH, else 0 */
  uint16_t usFallingConfidence;
  uint16_t usRisingConfidence;
} WGMatchDetails;

#pragma pack(pop)

WG_STATIC_ASSERT(sizeof(WGMatchCriteria) == 8, "match criteria are 8 bytes");
WG_STATIC_ASSERT(sizeof(WGMatchDetails) == 8, "match details are 8 bytes");

/* Starts an image acquisition; pCallback null selects polled mode. pTemplate, when given, is a
   sealed reference or small reference template record passed on to the server unchanged.
   Returns the transaction id, or 0 (WhorlgateGetResultDetails says why). */
WG_API uint32_t WGBeginAcquireImage(WGTransactionCallback pCallback, uint32_t uiUserValue,
                                    uint16_t usAcquireOption, const uint8_t* pTemplate);
/* Ends the acquisition after WG_MSG_ACQUIRE_COMPLETE and copies the image into the caller's
   16401-byte pImageBuffer (if not null), also when the server's result is not WG_OK. Returns
   the server's result, or WG_FUNCTION_FAILED. */
WG_API WGResult WGEndAcquireImage(uint32_t uiTransactionId, uint8_t* pImageBuffer);
/* Size of a match template: 8209. */
WG_API uint16_t WGGetMatchTemplateSize(void);
/* Builds a match template in the caller's 8209-byte buffer from an image buffer.
   WG_OK, or WG_BAD_POINTER. */
WG_API WGResult WGBuildMatchTemplate(const uint8_t* pImageBuffer, uint8_t* pMatchTemplate);
/* Builds a sealed reference template record in the caller's 2384-byte buffer from an image
   buffer. WG_OK, WG_BAD_POINTER or WG_FUNCTION_FAILED. */
WG_API WGResult WGBuildReferenceTemplate(const uint8_t* pImageBuffer, uint8_t* pRecord);
/* Compares a sealed reference or small reference template record (left sealed) with a match
   template against the server's minimum score. WG_MATCH, WG_NO_MATCH, WG_BAD_POINTER,
   WG_FUNCTION_FAILED (the record is not valid) or WG_OUT_OF_MEMORY. */
WG_API WGResult WGMatchTemplatePair(const uint8_t* pRecord, const uint8_t* pMatchTemplate);
/* As WGMatchTemplatePair; pCriteria (optional) decide in place of the minimum score, pDetails
   (optional) receive the outcome. ulReserved is not read. */
WG_API WGResult WGMatchTemplatePairEx(const uint8_t* pRecord, const uint8_t* pMatchTemplate,
                                      const WGMatchCriteria* pCriteria, WGMatchDetails* pDetails,
                                      uint32_t ulReserved);

#endif
