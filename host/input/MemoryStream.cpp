// HostStream over bytes in memory.
#include "MemoryStream.hpp"

#include "LineReads.hpp"
#include "StreamWatch.hpp"

#include <cstring>

namespace wqhost {
namespace {

MemoryStream* self(HostStream* stream) { return reinterpret_cast<MemoryStream*>(stream); }

int32_t openMemory(HostStream* stream) {
    MemoryStream* s = self(stream);
    s->isOpen = 1;
    s->offset = 0;
    return 1;
}

// Up to `size` bytes from the offset, as many as LineReads.hpp says.
int32_t readMemory(HostStream* stream, void* buffer, int32_t size) {
    MemoryStream* s = self(stream);
    if (!s->isOpen || size <= 0 || s->offset >= s->size) return 0;
    if (s->watch != nullptr && !s->watch->allow(s->offset)) return 0;
    const int32_t window = size < s->size - s->offset ? size : s->size - s->offset;
    const int32_t count = lineReadBytes(s->data + s->offset, window);
    copyLineRead(buffer, s->data + s->offset, count);
    s->offset += count;
    return count;
}

// 1 when the new offset lies within the document (its end included), 0 otherwise.
int32_t seekMemory(HostStream* stream, int32_t offset, int32_t whence) {
    MemoryStream* s = self(stream);
    if (!s->isOpen) return 0;
    int64_t base = 0;
    if (whence == 1)
        base = s->offset;
    else if (whence == 2)
        base = s->size;
    else if (whence != 0)
        return 0;
    const int64_t target = base + offset;
    if (target < 0 || target > s->size) return 0;
    s->offset = static_cast<int32_t>(target);
    return 1;
}

int32_t tellMemory(HostStream* stream) {
    MemoryStream* s = self(stream);
    return s->isOpen ? s->offset : -1;
}

int32_t closeMemory(HostStream* stream) {
    self(stream)->isOpen = 0;
    return 1;
}

}  // namespace

void initMemoryStream(MemoryStream* stream, const void* data, int32_t size) {
    std::memset(stream, 0, sizeof *stream);
    stream->table.open = openMemory;
    stream->table.read = readMemory;
    stream->table.seek = seekMemory;
    stream->table.tell = tellMemory;
    stream->table.close = closeMemory;
    stream->data = static_cast<const unsigned char*>(data);
    stream->size = size < 0 ? 0 : size;
}

}  // namespace wqhost
