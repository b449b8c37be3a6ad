// Prints the text values of a drawing held in memory, one a line, read by the installed
// plug-in through the installed host toolkit: a host built against an install.
#include <wqdxfrdr/wqdxfrdr.h>

#include <cstdio>
#include <wqdxfrdr/host/MallocServices.hpp>
#include <wqdxfrdr/host/MemoryStream.hpp>

namespace {

const char kDrawing[] =
    "  0\nSECTION\n  2\nENTITIES\n"
    "  0\nTEXT\n  8\n0\n  1\nInstalled\n"
    "  0\nMTEXT\n  1\nnot read by the plug-in\n"
    "  0\nATTRIB\n  1\nand linked\n  2\nTAG\n"
    "  0\nENDSEC\n  0\nEOF\n";

}  // namespace

int main() {
    wqhost::MallocServices services;
    wqhost::initMallocServices(&services);
    wqhost::MemoryStream stream;
    wqhost::initMemoryStream(&stream, kDrawing, static_cast<int32_t>(sizeof kDrawing - 1));
    HostParams params;
    wqhost::initHostParams(&params, &services);

    int status = 1;
    DxfSource* source = startSrcDXF(&stream.table, &params);
    while (source != nullptr) {
        OutputRecord* record = getDXFobject(source);
        if (record == nullptr) break;
        const int32_t kind = wqhost::recordKind(record);
        if (kind == RecordText)
            std::printf("%.*s\n", static_cast<int>(record->textLength), record->text);
        wqhost::releaseRecord(&services, record);
        if (kind == RecordEndOfDocument) {
            status = 0;
            break;
        }
    }
    if (source != nullptr) shutDownDXFsrc(source);
    wqhost::finishMallocServices(&services);
    return status;
}
