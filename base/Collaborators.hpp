// The collaborators a module reads through (storage, string utilities, group code table,
// line stream): taken when its creator was given one, else made on demand and then owned,
// and deleted only by the object that made them. Constructors make them through the
// ensure functions and, on any failure, give back what they made through deleteOwned,
// as their destructors do.
#ifndef WQ_COLLABORATORS_HPP
#define WQ_COLLABORATORS_HPP

#include <cstdint>

#include "DxfFileStrmIo.h"
#include "DxfGrpId.h"

namespace wq {

struct Collaborators {
    int32_t ownsStorage;
    DxfPublicStorage* storage;
    int32_t ownsStrings;
    DxfStrEtc* strings;
    int32_t ownsGroups;
    DxfGrpId* groups;
    int32_t ownsLines;
    DxfFileStrmIo* lines;
};

// Each ensure makes its collaborator when it is missing, on the storage made or given
// before it; 1 when the collaborator is there afterwards, 0 when it could not be made.
inline int32_t ensureStorage(Collaborators* made, HostServices* services) {
    if (made->storage != nullptr) return 1;
    made->storage = newDxfPublicStorage(services, StorageExactSizes);
    return made->ownsStorage = made->storage != nullptr;
}

inline int32_t ensureStrings(Collaborators* made, HostServices* services) {
    if (made->strings != nullptr) return 1;
    made->strings = newDxfStrEtc(services, made->storage);
    return made->ownsStrings = made->strings != nullptr;
}

inline int32_t ensureGroups(Collaborators* made, HostServices* services) {
    if (made->groups != nullptr) return 1;
    made->groups = newDxfGrpId(services, made->storage);
    return made->ownsGroups = made->groups != nullptr;
}

// The stream gets `strings` for its own: with null it makes string utilities of its own,
// even when some were made here.
inline int32_t ensureLines(Collaborators* made, HostServices* services, HostStream* stream,
                           DxfStrEtc* strings) {
    if (made->lines != nullptr) return 1;
    made->lines = newDxfFileStrmIo(services, stream, strings, made->storage);
    return made->ownsLines = made->lines != nullptr;
}

// Deletes what was made here: group table, line stream, string utilities, then storage.
inline void deleteOwned(const Collaborators& made) {
    if (made.ownsGroups) deleteDxfGrpId(made.groups);
    if (made.ownsLines) deleteDxfFileStrmIo(made.lines);
    if (made.ownsStrings) deleteDxfStrEtc(made.strings);
    if (made.ownsStorage) deleteDxfPublicStorage(made.storage);
}

}  // namespace wq

#endif
