// Records handed to the host: every record the reader makes is made, remembered as the
// source's last record and queued through these two.
#ifndef WQ_RECORDS_HPP
#define WQ_RECORDS_HPP

#include <cstdint>

#include "DxfSourceRecord.h"

namespace wq {

// Makes a record of `kind` and stores it as the source's last record, through which it is
// then filled and queued; the record, or null when the host gives none (the last record
// then stays the one made before).
inline OutputRecord* makeRecord(DxfSource* source, int32_t kind) {
    HostServices* services = source->services;
    OutputRecord* record = services->newRecord(services, kind);
    if (record != nullptr) source->lastRecord = record;
    return record;
}

// Puts the source's last record into its record queue at `position`.
inline void queueLastRecord(DxfSource* source, int32_t position) {
    HostServices* services = source->services;
    services->putRecord(services, &source->recordQueue, source->lastRecord, position);
}

}  // namespace wq

#endif
