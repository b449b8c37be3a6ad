/* Escape decoder: turns a text value with "\M+" escapes into two-byte characters and
 * copies any other text unchanged. */
#ifndef MTEXT_CONV_H
#define MTEXT_CONV_H

#include "DxfStrEtc.h"

WQ_EXTERN_C_BEGIN

typedef struct MtextConv MtextConv;
struct MtextConv {
    void* context; /* word 0 */
    /* 0 when the text was copied, 1 when it was decoded; `text` may be cut in place. */
    int32_t (*convertText)(MtextConv* self, char* out, int32_t* outLength, char* text,
                           int32_t textLength); /* slot 1 */
};
WQ_SLOT(MtextConv, context, 0);
WQ_SLOT(MtextConv, convertText, 1);
WQ_WORDS(MtextConv, 2);

enum { MtextMaxPieces = 256 };

WQ_API MtextConv* newMtextConv(HostServices* services, DxfPublicStorage* storage,
                               DxfStrEtc* strings);
WQ_API void deleteMtextConv(MtextConv* decoder);

WQ_EXTERN_C_END

#endif
