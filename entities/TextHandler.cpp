// Text entity handler: turns one TEXT, ATTDEF, ATTRIB or BLOCK entity into host records, a
// start record, one text record per code "1" or "2" value in file order, and an end record.
#include <cstring>

#include "EntitiesContext.hpp"
#include "Records.hpp"

namespace {

// Every text buffer handed to the host holds a whole value line.
constexpr int32_t kTextBytes = DxfLineBytes;
constexpr intptr_t kStartMark = 12;  // word 12 of a start record

using wq::makeRecord;
using wq::queueLastRecord;

// Queues the text record of one value, decoded into a buffer of the host; 1, or 0 when
// the buffer or the record cannot be made. A buffer whose record cannot be made stays with
// the host, which owns all it gave out; the storage has no way to give it back.
int32_t queueText(wq::EntitiesContext* ctx, char* value) {
    DxfPublicStorage* storage = ctx->collaborators.storage;
    char* text = static_cast<char*>(storage->hostAlloc(storage, kTextBytes));
    if (text == nullptr) return 0;
    if (makeRecord(ctx->source, RecordText) == nullptr) return 0;
    // A value is at most 2047 bytes and decodes to at most 513, so the buffer holds either.
    // The decoder's own count is not used: the text ends at its first zero byte, which a
    // decoded character with a zero high byte can put early.
    int32_t decodedLength = 0;
    ctx->decoder->convertText(ctx->decoder, text, &decodedLength, value,
                              static_cast<int32_t>(std::strlen(value)));
    const void* end = std::memchr(text, 0, kTextBytes);
    OutputRecord* record = ctx->source->lastRecord;
    record->textFlags = 0;
    record->text = text;
    record->textLength = end != nullptr ? static_cast<const char*>(end) - text : kTextBytes;
    queueLastRecord(ctx->source, QueueAppend);
    return 1;
}

}  // namespace

int32_t wq::textHandler(DxfEntities* self) {
    EntitiesContext* ctx = entitiesContextOf(self);
    DxfSource* source = ctx->source;
    ReadDatUtil* reader = ctx->reader;
    DxfGrpId* groups = ctx->collaborators.groups;

    // The queue is empty whenever an entity is handed over, so the start record leads it.
    if (makeRecord(source, RecordTextStart) == nullptr) return 0;
    source->lastRecord->startMark = kStartMark;
    queueLastRecord(source, QueueAtHead);

    while (!ctx->atRangeEnd(self)) {
        GroupPair pair;
        if (!reader->readPair(reader, &pair)) return 0;
        // One lookup per group answers both questions: its index tells code "0" (what
        // isCode0 would look up again) from codes "1" and "2", and it brings the value type.
        GroupInfo info;
        const int32_t known = groups->findGroupId(groups, pair.code, &info);
        if (known && info.index == GroupCode0) {
            // The next entity begins: leave its opening group for the dispatcher.
            reader->backToPair(reader);
            ctx->currentHandler = nullptr;
            break;
        }
        // An unknown code fails the entity; the handler stays current, so a later call
        // goes on from here with a new start record.
        if (!known) return 0;
        if (info.valueType == ValueString &&
            (info.index == GroupCode1 || info.index == GroupCode2) && !queueText(ctx, pair.value))
            return 0;
    }

    // Also when the entity ran into the end of the range: nothing is pushed back then and
    // the handler stays current, so the dispatcher's next call finds the range finished.
    if (makeRecord(source, RecordTextEnd) == nullptr) return 0;
    queueLastRecord(source, QueueAppend);
    return 1;
}
