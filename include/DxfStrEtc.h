/* String utilities on zero-terminated byte strings held in caller buffers: in-place
 * removal, searches, trimming, splitting at a delimiter, two-byte text length. */
#ifndef DXF_STR_ETC_H
#define DXF_STR_ETC_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfStrEtc DxfStrEtc;
struct DxfStrEtc {
    void* context;                                                            /* word 0 */
    char* (*deleteChars)(DxfStrEtc* self, char* s, const char* set);          /* slot 1 */
    char* (*deleteString)(DxfStrEtc* self, char* s, const char* sub);         /* slot 2 */
    int32_t (*findString)(DxfStrEtc* self, const char* s, const char* sub);   /* slot 3 */
    int32_t (*findAnyOf)(DxfStrEtc* self, const char* s, const char* set);    /* slot 4 */
    int32_t (*searchString)(DxfStrEtc* self, const char* s, const char* sub); /* slot 5 */
    int32_t (*lastNotOf)(DxfStrEtc* self, const char* s, const char* set);    /* slot 6 */
    int32_t (*firstNotOf)(DxfStrEtc* self, const char* s, const char* set);   /* slot 7 */
    void (*trimRight)(DxfStrEtc* self, char* s);                              /* slot 8 */
    int32_t (*wideLength)(DxfStrEtc* self, const char* text);                 /* slot 9 */
    void (*splitString)(DxfStrEtc* self, char* s, const char* delimiter, int32_t* count,
                        char** pieces);                          /* slot 10 */
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

WQ_API DxfStrEtc* newDxfStrEtc(HostServices* services, DxfPublicStorage* storage);
WQ_API void deleteDxfStrEtc(DxfStrEtc* strings);

WQ_EXTERN_C_END

#endif
