/* Linkage of the Whorlgate client library's exported calls. */
#ifndef WHORLGATE_WG_EXPORT_H
#define WHORLGATE_WG_EXPORT_H

#ifdef __cplusplus
#define WG_EXTERN_C extern "C"
#else
#define WG_EXTERN_C extern
#endif

/* Only the calls marked WG_API are exported from libwgrpc.so. */
#define WG_API WG_EXTERN_C __attribute__((visibility("default")))

#endif
