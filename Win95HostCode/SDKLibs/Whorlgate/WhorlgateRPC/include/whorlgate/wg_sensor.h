/* The sensor-level calls: the sensor and the templates as plain objects. A raw buffer and a
   transient image are image buffers (16401 bytes), an identifying template is a match template
   (8209 bytes), an authorized template a sealed reference template record (2384 bytes). The
   objects belong to the application from their Create call to their Destroy call. Most calls
   return a sensor status: 0x03FB0000 for success, a failure code such as WG_BAD_POINTER as a
   negative 32-bit number (0xFFFFFF8E). */
#ifndef WHORLGATE_WG_SENSOR_H
#define WHORLGATE_WG_SENSOR_H

#include <stdint.h>

#include "whorlgate/wg_export.h"
#include "whorlgate/wg_results.h"

typedef uint32_t WGSensorStatus;

#define WG_SENSOR_STATUS_OK 0x03FB0000u

#define WG_RAW_BUFFER_SIZE 16401
#define WG_TRANSIENT_IMAGE_SIZE 16401
#define WG_IDENTIFYING_TEMPLATE_SIZE 8209
#define WG_AUTHORIZED_TEMPLATE_SIZE 2384

/* Tells the outcome of an asynchronous acquisition. uiImageDelivered is 1 when pRawBuffer was
   filled from a finished acquisition, else 0 (no finger, or no image came). Called on the
   library's event thread (or at once on the caller's thread when no finger is on the sensor);
   it must not call AsyncAcquireDataFromSensor or KillAsyncSensorIO. */
typedef void (*WGSensorCallback)(WGSensorStatus uiStatus, uint32_t uiRequestTag,
                                 uint8_t* pRawBuffer, uint32_t uiImageDelivered,
                                 uint32_t uiUserValue);

/* Nothing to open; WG_SENSOR_STATUS_OK. */
WG_API WGSensorStatus OpenSensor(void);
/* Ends a pending asynchronous acquisition and lets go of the acquisition lock. */
WG_API WGSensorStatus CloseSensor(void);
/* Size of the image format block: 1064 (a plain number). */
WG_API uint32_t GetImageFormatSize(void);
/* Writes a bitmap header for a raw buffer's image, rows bottom-up (height +128), into the
   caller's 1064-byte pFormat. uiUnused is not read. Status, or WG_BAD_POINTER. */
WG_API WGSensorStatus GetImageFormat(uint32_t uiUnused, uint8_t* pFormat);
/* Starts acquiring one image into the caller's pRawBuffer; pCallback tells the outcome with
   uiRequestTag and uiUserValue. Status, or WG_SENSOR_BUSY when it cannot start (one pending
   already, a transaction running, no answer from the server). */
WG_API WGSensorStatus AsyncAcquireDataFromSensor(uint32_t uiRequestTag, uint8_t* pRawBuffer,
                                                 WGSensorCallback pCallback, uint32_t uiUserValue);
/* Stops the pending asynchronous acquisition, if any; its callback is not called. Status, or
   WG_SENSOR_BUSY when the acquisition lock could not be had within 5 seconds. */
WG_API WGSensorStatus KillAsyncSensorIO(void);
/* Not supported: WG_NOT_SUPPORTED (0xFFFFFF8C). */
WG_API WGSensorStatus AcquireDataFromSensor(void);
/* Has no effect. */
WG_API void SetRecognitionLevel(uint32_t uiLevel);

/* A raw buffer, contents undefined; null when memory is short. */
WG_API uint8_t* CreateRawBuffer(void);
/* Frees a raw buffer; null is ignored. */
WG_API void DestroyRawBuffer(uint8_t* pRawBuffer);
/* Copies the raw buffer pSource into pDestination; returns pDestination. */
WG_API uint8_t* AssignRawBuffer(uint8_t* pDestination, const uint8_t* pSource);

/* A zero-filled transient image; null when memory is short. */
WG_API uint8_t* CreateTransientImage(void);
/* Frees a transient image; null is ignored. */
WG_API void DestroyTransientImage(uint8_t* pImage);
/* Fills the transient image with 0; null is ignored. */
WG_API void ResetTransientImage(uint8_t* pImage);
/* Copies the raw buffer into the transient image and its raw image, turned by 180 degrees,
   into the caller's 16384-byte pPicture; sets the given values to 1, 1 and 4. Status, or
   WG_BAD_POINTER when the image, the raw buffer or the picture is null. */
WG_API WGSensorStatus BuildTransientImage(uint8_t* pImage, const uint8_t* pRawBuffer,
                                          uint32_t* puiValue1, uint32_t* puiValue2,
                                          uint32_t* puiValue3, uint8_t* pPicture);

/* Stores a new zero-filled identifying template in *ppTemplate (null when memory is short).
   Status, WG_OUT_OF_MEMORY, or WG_BAD_POINTER when ppTemplate is null. */
WG_API WGSensorStatus CreateIdentifyingTemplate(uint8_t** ppTemplate);
/* Frees an identifying template; null is ignored. */
WG_API void DestroyIdentifyingTemplate(uint8_t* pTemplate);
/* Fills the identifying template with 0; null is ignored. */
WG_API void ResetIdentifyingTemplate(uint8_t* pTemplate);
/* Builds the identifying template from the raw buffer. Status, or WG_BAD_POINTER. */
WG_API WGSensorStatus BuildIdentifyingTemplate(uint8_t* pTemplate, const uint8_t* pRawBuffer);
/* Copies the template into the caller's pOutput, whose size *puiSize gives; *puiSize becomes
   8209. Status; WG_FUNCTION_FAILED (nothing copied) when *puiSize was smaller; WG_BAD_POINTER. */
WG_API WGSensorStatus CompressIdentifyingTemplate(const uint8_t* pTemplate, uint8_t* pOutput,
                                                  uint32_t* puiSize);
/* Copies the caller's pInput, whose size *puiSize gives, into the template; *puiSize becomes
   8209. Status; WG_FUNCTION_FAILED (nothing copied) when *puiSize was smaller; WG_BAD_POINTER. */
WG_API WGSensorStatus DecompressIdentifyingTemplate(uint8_t* pTemplate, const uint8_t* pInput,
                                                    uint32_t* puiSize);
/* Copies the identifying template pSource into pDestination; returns pDestination. */
WG_API uint8_t* AssignIdentifyingTemplate(uint8_t* pDestination, const uint8_t* pSource);

/* The authorized template calls work as the identifying template calls, on 2384 bytes. */
WG_API WGSensorStatus CreateAuthorizedTemplate(uint8_t** ppTemplate);
WG_API void DestroyAuthorizedTemplate(uint8_t* pTemplate);
WG_API void ResetAuthorizedTemplate(uint8_t* pTemplate);
/* Builds and seals the authorized template from the raw buffer. *puiDone becomes 1 and
   *puiGoodBuild 1 for a clear print, else 0 (either pointer may be null). Status of the build,
   WG_OUT_OF_MEMORY or WG_BAD_POINTER. */
WG_API WGSensorStatus BuildAuthorizedTemplate(uint8_t* pTemplate, const uint8_t* pRawBuffer,
                                              uint32_t* puiDone, uint32_t* puiGoodBuild);
WG_API WGSensorStatus CompressAuthorizedTemplate(const uint8_t* pTemplate, uint8_t* pOutput,
                                                 uint32_t* puiSize);
WG_API WGSensorStatus DecompressAuthorizedTemplate(uint8_t* pTemplate, const uint8_t* pInput,
                                                   uint32_t* puiSize);
WG_API uint8_t* AssignAuthorizedTemplate(uint8_t* pDestination, const uint8_t* pSource);

/* Copies the identifying template into the library's one search print. Status, or
   WG_BAD_POINTER. */
WG_API WGSensorStatus LoadSearchPrint(const uint8_t* pTemplate);
/* Compares the authorized template with the search print; *puiMatched becomes 1 for a match,
   else 0 (also when the template is not valid). Status, or WG_BAD_POINTER. Must not overlap
   LoadSearchPrint. */
WG_API WGSensorStatus ComparePrints(const uint8_t* pTemplate, uint32_t* puiMatched);

#endif
