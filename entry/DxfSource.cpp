// Reader entry: the plug-in's entry points. Starts a reader per document, runs the
// section phases as the host asks for records, and hands the queued records out one by one.
#include "DxfSource.h"

#include "DxfPublicStorage.h"
#include "DxfVocabulary.h"
#include "GetDxfData.h"
#include "Messages.hpp"
#include "Pool.hpp"

extern "C" const int32_t _lib_version = 1;

namespace {

// The phase after EOF: every handler has finished.
constexpr intptr_t kPhasesDone = SectionCount;

using PhaseHandler = int32_t (*)(GetDxfData*);

// The handler of a phase, which sits in slot phase + 1 of the section index; null
// outside HEADER to EOF.
PhaseHandler handlerOf(GetDxfData* sections, intptr_t phase) {
    switch (phase) {
        case SectionHeader:
            return sections->doHeader;
        case SectionClasses:
            return sections->doClasses;
        case SectionTables:
            return sections->doTables;
        case SectionBlocks:
            return sections->doBlocks;
        case SectionEntities:
            return sections->doEntities;
        case SectionObjects:
            return sections->doObjects;
        case SectionEof:
            return sections->doEnd;
        default:
            return nullptr;
    }
}

// The buffer is the host's: the library never uses it itself.
int32_t allocBufDXFsrc(DxfSource* source, int32_t request) {
    if (request != 1) return 0;
    if (source->workStart != nullptr) return 1;
    char* buffer = wq::allocArray<char>(source->storage, DxfWorkBufferBytes);
    if (buffer == nullptr) {
        wq::report(source->stream, wq::kNoMemory);
        return 0;
    }
    source->workStart = buffer;
    source->workCursor = buffer;
    source->workEnd = buffer + DxfWorkBufferBytes;
    return 1;
}

}  // namespace

DxfSource* startSrcDXF(HostStream* stream, HostParams* params) {
    if (stream == nullptr || params == nullptr || params->services == nullptr) return nullptr;
    DxfPublicStorage* storage = newDxfPublicStorage(params->services, StorageExactSizes);
    if (storage == nullptr) return nullptr;
    DxfSource* source = wq::allocOne<DxfSource>(storage);
    if (source == nullptr) {
        deleteDxfPublicStorage(storage);
        return nullptr;
    }
    source->storage = storage;
    source->stream = stream;
    source->params = params;
    source->hostValue = params->hostValue;
    source->services = params->services;
    // The index reports its own failures, and the source goes with the storage.
    GetDxfData* sections = newGetDxfData(source, storage, nullptr, nullptr);
    if (sections == nullptr) {
        deleteDxfPublicStorage(storage);
        return nullptr;
    }
    source->sections = sections;

    source->tag = DxfSourceTag;
    // The host's words change only once the reader is sure to start.
    params->word2 = 48;
    params->word4 = 1;
    params->word24 = 1;
    params->word32 = 0;
    source->allocBufDXFsrc = allocBufDXFsrc;
    source->getDXFobject = getDXFobject;
    source->shutDownDXFsrc = shutDownDXFsrc;
    source->phase = SectionHeader;
    source->lastRecord = nullptr;
    source->recordQueue = 0;
    return source;
}

OutputRecord* getDXFobject(DxfSource* source) {
    if (source == nullptr) return nullptr;
    HostServices* services = source->services;
    // A loop, not recursion: one call may run a handler once per entity of a whole
    // section before a record is waiting.
    for (;;) {
        if (source->recordQueue != 0) {
            OutputRecord* record = services->takeRecord(services, &source->recordQueue, 0);
            source->lastRecord = record;
            return record;
        }
        if (source->phase >= kPhasesDone) return nullptr;
        const PhaseHandler handler = handlerOf(source->sections, source->phase);
        if (handler == nullptr) return nullptr;
        const int32_t result = handler(source->sections);
        if (result == PhaseError) return nullptr;  // the same phase runs again next call
        if (result == PhaseFinished) ++source->phase;
    }
}

void shutDownDXFsrc(DxfSource* source) {
    if (source == nullptr) return;
    source->tag = 0;
    DxfPublicStorage* storage = source->storage;
    if (storage == nullptr) return;
    deleteGetDxfData(source->sections);
    deleteDxfPublicStorage(storage);  // takes the source itself with it
}
