/* String utilities on zero-terminated byte strings held in caller buffers: in-place
 * removal, searches, trimming, splitting at a delimiter, two-byte text length. */
#ifndef DXF_STR_ETC_H
#define DXF_STR_ETC_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfStrEtc DxfStrEtc;
struct DxfStrEtc {
    /* The utilities' private state. */
    void* context; /* word 0 */
    /* Removes from `s`, in place, every byte that is in `set`; returns `s`. */
    char* (*deleteChars)(DxfStrEtc* self, char* s, const char* set); /* slot 1 */
    /* Removes every occurrence of `sub` from `s` in place, left to right, each search going
     * on from where the last removal was (an occurrence the join makes across it stays);
     * an empty `sub` removes nothing. Returns `s`, or null for a handle without context. */
    char* (*deleteString)(DxfStrEtc* self, char* s, const char* sub); /* slot 2 */
    /* Index of the first occurrence of `sub` in `s`; -1 when there is none, for an empty
     * `s` or `sub`, and for a handle without context. */
    int32_t (*findString)(DxfStrEtc* self, const char* s, const char* sub); /* slot 3 */
    /* Index of the first byte of `s` that is in `set`; -1 when there is none (always for an
     * empty `set`) and for a handle without context. */
    int32_t (*findAnyOf)(DxfStrEtc* self, const char* s, const char* set); /* slot 4 */
    /* As findString, but the handle's context is not checked: it must be there. */
    int32_t (*searchString)(DxfStrEtc* self, const char* s, const char* sub); /* slot 5 */
    /* Length of `s` without its trailing run of bytes in `set`; -1 for an empty `s` and
     * when every byte is in `set`. */
    int32_t (*lastNotOf)(DxfStrEtc* self, const char* s, const char* set); /* slot 6 */
    /* Index of the first byte of `s` not in `set`; -1 for an empty `s` and when every byte
     * is in `set`. */
    int32_t (*firstNotOf)(DxfStrEtc* self, const char* s, const char* set); /* slot 7 */
    /* Cuts the trailing blanks and tabs of `s` in place. Its first byte is never cut, so a
     * string of blanks and tabs only keeps one. */
    void (*trimRight)(DxfStrEtc* self, char* s); /* slot 8 */
    /* Number of two-byte units of `text` before the first unit whose second byte is 0 (a
     * zero first byte does not end it); 0 for null. Reading goes by units, so an empty or
     * even-length string is read one byte past its terminator. */
    int32_t (*wideLength)(DxfStrEtc* self, const char* text); /* slot 9 */
    /* Cuts `s` in place at every `delimiter` and points `pieces` at the `*count` parts.
     * Empty parts before the first and between adjacent delimiters are dropped; the part
     * after the last one always comes, even empty. With no delimiter in `s` (or an empty
     * `delimiter`) `*count` is 0 and `s` and `pieces` are untouched. `pieces` must hold one
     * more entry than `s` has delimiters; the handle's context is not checked. */
    void (*splitString)(DxfStrEtc* self, char* s, const char* delimiter, int32_t* count,
                        char** pieces); /* slot 10 */
    /* Removes from `s`, in place, every byte equal to the low 8 bits of `character`; the
     * character 0 changes nothing. */
    void (*deleteChar)(DxfStrEtc* self, char* s, int character); /* slot 11 */
};
WQ_SLOT(DxfStrEtc, context, 0);
WQ_SLOT(DxfStrEtc, deleteChars, 1);
WQ_SLOT(DxfStrEtc, deleteString, 2);
WQ_SLOT(DxfStrEtc, findString, 3);
WQ_SLOT(DxfStrEtc, findAnyOf, 4);
WQ_SLOT(DxfStrEtc, searchString, 5);
WQ_SLOT(DxfStrEtc, lastNotOf, 6);
WQ_SLOT(DxfStrEtc, firstNotOf, 7);
WQ_SLOT(DxfStrEtc, trimRight, 8);
WQ_SLOT(DxfStrEtc, wideLength, 9);
WQ_SLOT(DxfStrEtc, splitString, 10);
WQ_SLOT(DxfStrEtc, deleteChar, 11);
WQ_WORDS(DxfStrEtc, 12);

/* Makes the string utilities; with a null `storage` they make and own one of their own.
 * Null when `services` is null or memory runs out, having given back what was made. */
WQ_API DxfStrEtc* newDxfStrEtc(HostServices* services, DxfPublicStorage* storage);
/* Deletes a storage the utilities made, and them with it. With a given storage nothing is
 * freed: the handle and context blocks stay in use until that storage is deleted. Null,
 * and a handle without context, are accepted. */
WQ_API void deleteDxfStrEtc(DxfStrEtc* strings);

WQ_EXTERN_C_END

#endif
