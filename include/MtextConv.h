/* Escape decoder: turns a text value with "\M+" escapes into two-byte characters and
 * copies any other text unchanged. */
#ifndef MTEXT_CONV_H
#define MTEXT_CONV_H

#include "DxfStrEtc.h"

WQ_EXTERN_C_BEGIN

typedef struct MtextConv MtextConv;
struct MtextConv {
    /* The decoder's private state. */
    void* context; /* word 0 */
    /* Without "\M+" in the zero-terminated `text`, copies its first `textLength` bytes
     * (none when negative) into `out`, ends them with a zero byte, stores the count in
     * `*outLength` and returns 0. Otherwise cuts `text` in place at each "\M+", dropping
     * all after the first MtextMaxPieces non-empty pieces, and writes two bytes, high byte
     * first, per piece, the text before the first escape included: the low 16 bits of the
     * hexadecimal number after the piece's first byte, read as "%x" reads (blanks, a sign
     * and 0x allowed, up to the first non-hex character); a piece without one gives
     * nothing. `*outLength` counts those bytes, zero bytes among them; a zero byte follows,
     * and the result is 1. */
    int32_t (*convertText)(MtextConv* self, char* out, int32_t* outLength, char* text,
                           int32_t textLength); /* slot 1 */
};
WQ_SLOT(MtextConv, context, 0);
WQ_SLOT(MtextConv, convertText, 1);
WQ_WORDS(MtextConv, 2);

/* The most pieces one text is decoded from: a decoded text is at most 512 bytes before its
 * zero byte, while a copied one needs `textLength` + 1 bytes of `out`. */
enum { MtextMaxPieces = 256 };

/* Makes the decoder; with a null `storage` it makes and owns one, with null `strings` its
 * own utilities. Null when `services` is null or memory runs out, having given back what
 * it made (utilities made on a given storage keep their blocks in use there). */
WQ_API MtextConv* newMtextConv(HostServices* services, DxfPublicStorage* storage,
                               DxfStrEtc* strings);
/* Returns its handle and context to the storage as free blocks, then deletes the utilities
 * and the storage it made. Null, and a handle without context, are accepted. */
WQ_API void deleteMtextConv(MtextConv* decoder);

WQ_EXTERN_C_END

#endif
