/* The search for the first line feed or zero byte eight bytes at a time, which the line
 * stream and the host toolkit's streams share: one pass over a word finds both. */
#ifndef DXF_LINE_WORDS_H
#define DXF_LINE_WORDS_H

#include <stdint.h>

/* Marks the first LF or zero byte of `word`, in memory order, by its top bit, and no byte
 * before it; bytes after it may be marked too. Little-endian, (x - 1s) & ~x marks each zero
 * byte of x and perhaps bytes after one, where a borrow ran on, but no byte before it;
 * big-endian borrows would run towards earlier bytes, so there each byte is tested alone. */
static inline uint64_t dxfMarkLineFeedOrZero(uint64_t word) {
    const uint64_t everyByte = 0x0101010101010101u;
    const uint64_t topBits = everyByte * 0x80u;
    const uint64_t lineFeeds = word ^ (everyByte * (uint64_t)'\n');
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return ((word - everyByte) & ~word & topBits) |
           ((lineFeeds - everyByte) & ~lineFeeds & topBits);
#else
    const uint64_t lowBits = ~topBits;
    return ~(((word & lowBits) + lowBits) | word | lowBits) |
           ~(((lineFeeds & lowBits) + lowBits) | lineFeeds | lowBits);
#endif
}

/* The position, in memory order, of the first byte of a word that `marks` (not 0) has a
 * bit in. */
static inline int32_t dxfFirstMarked(uint64_t marks) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return (int32_t)(__builtin_ctzll(marks) / 8);
#else
    return (int32_t)(__builtin_clzll(marks) / 8);
#endif
}

#endif
