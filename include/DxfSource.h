/* The plug-in's entry points: a host starts one reader per document, takes its records
 * one at a time, and shuts it down. */
#ifndef DXF_SOURCE_H
#define DXF_SOURCE_H

#include "DxfSourceRecord.h"

WQ_EXTERN_C_BEGIN

/* Starts a reader on one document: makes its storage on the services in `params`, opens
 * the stream, indexes its sections, and writes 48, 1, 1 and 0 into words 2, 4, 24 and 32
 * of `params`. Null, with an opened stream closed again, nothing kept and `params`
 * untouched, for a null `stream`, `params` or services, and when the document cannot be
 * opened, is empty or holds no section, or memory runs out; the section index reports its
 * failures through the stream's reportError when it has one, a failure before it is not
 * reported. */
WQ_API DxfSource* startSrcDXF(HostStream* stream, HostParams* params);
/* The next record: the head of the record queue when it is not empty (it also becomes the
 * source's last record), else the phases from HEADER to EOF run until one queues a
 * record. Null for a null source, once every phase has finished, and when a phase fails,
 * which runs again on the next call: a null alone does not mean the end. */
WQ_API OutputRecord* getDXFobject(DxfSource* source);
/* Ends the reader: clears its tag, closes the document and gives all of its storage back
 * to the host, the source record included. Records and text buffers handed to the host
 * stay with it. Null is accepted. */
WQ_API void shutDownDXFsrc(DxfSource* source);
/* Interface version of the plug-in: 1. */
WQ_API extern const int32_t _lib_version;

WQ_EXTERN_C_END

#endif
