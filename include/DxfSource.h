/* The plug-in's entry points: a host starts one reader per document, takes its records
 * one at a time, and shuts it down. */
#ifndef DXF_SOURCE_H
#define DXF_SOURCE_H

#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Starts a reader on one document; null when it cannot start (the reason has been
 * reported through the stream's reportError when the stream has one). */
WQ_API DxfSource* startSrcDXF(HostStream* stream, HostParams* params);
/* The next record, or null on an error or once delivery is over. */
WQ_API OutputRecord* getDXFobject(DxfSource* source);
/* Ends the reader and returns all of its memory to the host; null is accepted. */
WQ_API void shutDownDXFsrc(DxfSource* source);
/* Interface version of the plug-in: 1. */
WQ_API extern const int32_t _lib_version;

WQ_EXTERN_C_END

#endif
