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

/* Sizes of the records that cross the API are checked where they are declared. */
#ifndef WG_STATIC_ASSERT
#if defined(__cplusplus)
#define WG_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define WG_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define WG_STATIC_ASSERT_JOIN2(a, b) a##b
#define WG_STATIC_ASSERT_JOIN(a, b) WG_STATIC_ASSERT_JOIN2(a, b)
#define WG_STATIC_ASSERT(cond, msg) \
  typedef char WG_STATIC_ASSERT_JOIN(wg_static_assert_, __COUNTER__)[(cond) ? 1 : -1]
#endif
#endif

#endif
