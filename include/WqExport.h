/* Export and layout macros shared by every public header: C linkage, default visibility
 * for the plug-in's own symbols, and compile-time pins on the word layout of handles. */
#ifndef WQ_EXPORT_H
#define WQ_EXPORT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define WQ_EXTERN_C_BEGIN extern "C" {
#define WQ_EXTERN_C_END }
#else
#define WQ_EXTERN_C_BEGIN
#define WQ_EXTERN_C_END
#endif

/* Marks the few names the shared library exports; everything else is built hidden. */
#define WQ_API __attribute__((visibility("default")))

#define WQ_CAT2(a, b) a##b
#define WQ_CAT(a, b) WQ_CAT2(a, b)

/* A handle is a record of words: WQ_SLOT pins member `member` of `type` to word `k`,
 * WQ_WORDS pins the whole record to `n` words. C99 has no static_assert, so there a
 * false condition becomes an array of negative size. */
#ifdef __cplusplus
#define WQ_STATIC_CHECK(cond, tag) static_assert(cond, #tag)
#else
#define WQ_STATIC_CHECK(cond, tag) typedef char WQ_CAT(wq_check_, tag)[(cond) ? 1 : -1]
#endif

#define WQ_SLOT(type, member, k)                                                 \
    WQ_STATIC_CHECK(offsetof(type, member) == (size_t)(k) * sizeof(uintptr_t) && \
                        sizeof(((type*)0)->member) == sizeof(uintptr_t),         \
                    WQ_CAT(type##_##member##_is_word_, k))
#define WQ_WORDS(type, n) \
    WQ_STATIC_CHECK(sizeof(type) == (size_t)(n) * sizeof(uintptr_t), WQ_CAT(type##_words_, n))

#endif
