/* The smallest complete host, in plain C99: stdio stream, malloc services, a record queue,
 * the plug-in loaded with dlopen. It prints every record as S, T <hex>, E and D. A model
 * for integrators; dxftext and host/ are the fuller toolkit.
 *
 *   minimalHost PLUGIN.so DRAWING.dxf */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wqdxfrdr.h"

/* The stream table first, the host's own state after it. */
typedef struct {
    HostStream table; /* first, so the reader's HostStream* is this object */
    FILE* file;
    const char* path;
} FileHost;

static int32_t fileOpen(HostStream* s) {
    FileHost* h = (FileHost*)s;
    h->file = fopen(h->path, "rb");
    return h->file != NULL;
}
static int32_t fileRead(HostStream* s, void* buffer, int32_t size) {
    return (int32_t)fread(buffer, 1, (size_t)size, ((FileHost*)s)->file);
}
static int32_t fileSeek(HostStream* s, int32_t offset, int32_t whence) {
    return fseek(((FileHost*)s)->file, offset, whence == 2 ? SEEK_END : SEEK_SET) == 0;
}
static int32_t fileTell(HostStream* s) { return (int32_t)ftell(((FileHost*)s)->file); }
static int32_t fileClose(HostStream* s) { return fclose(((FileHost*)s)->file) == 0; }
static void fileReport(HostStream* s, const char* message, int32_t zero) {
    (void)zero;
    fprintf(stderr, "%s: %s\n", ((FileHost*)s)->path, message);
}

/* A record is the 13 words the reader knows, then the host's kind and queue link. */
typedef struct Record {
    OutputRecord words;
    int32_t kind;
    struct Record* next;
} Record;

static void* rawAlloc(HostServices* s, int32_t size) {
    (void)s;
    return malloc((size_t)size);
}
static void* callocMem(HostServices* s, int32_t count, int32_t size) {
    (void)s;
    return calloc((size_t)count, (size_t)size);
}
static void* reallocMem(HostServices* s, void* p, int32_t size) {
    (void)s;
    return realloc(p, (size_t)size);
}
static void freeMem(HostServices* s, void* p) {
    (void)s;
    free(p);
}
static OutputRecord* newRecord(HostServices* s, int32_t kind) {
    Record* r = calloc(1, sizeof *r);
    (void)s;
    if (r == NULL) return NULL;
    r->kind = kind;
    return &r->words;
}
/* Position 0 puts at the head, -1 appends; the queue word holds the head. */
static int32_t putRecord(HostServices* s, uintptr_t* queue, OutputRecord* record, int32_t at) {
    Record* r = (Record*)record;
    Record** link = (Record**)queue;
    (void)s;
    if (at == -1) {
        while (*link != NULL) link = &(*link)->next;
    }
    r->next = *link;
    *link = r;
    return 1;
}
static OutputRecord* takeRecord(HostServices* s, uintptr_t* queue, int32_t zero) {
    Record* head = (Record*)*queue;
    (void)s;
    (void)zero;
    if (head == NULL) return NULL;
    *queue = (uintptr_t)head->next;
    return &head->words;
}

int main(int argc, char** argv) {
    FileHost stream;
    HostServices services;
    HostParams params;
    DxfSource* (*start)(HostStream*, HostParams*);
    OutputRecord* (*next)(DxfSource*);
    void (*shutDown)(DxfSource*);
    DxfSource* source;
    void* plugin;
    int status = 1;

    if (argc != 3) {
        fprintf(stderr, "usage: minimalHost PLUGIN.so DRAWING.dxf\n");
        return 2;
    }
    plugin = dlopen(argv[1], RTLD_NOW);
    if (plugin == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    /* POSIX lets a dlsym result be copied into a function pointer. */
    *(void**)&start = dlsym(plugin, "startSrcDXF");
    *(void**)&next = dlsym(plugin, "getDXFobject");
    *(void**)&shutDown = dlsym(plugin, "shutDownDXFsrc");

    memset(&stream, 0, sizeof stream);
    stream.table.open = fileOpen;
    stream.table.read = fileRead;
    stream.table.seek = fileSeek;
    stream.table.tell = fileTell;
    stream.table.close = fileClose;
    stream.table.reportError = fileReport;
    stream.path = argv[2];
    memset(&services, 0, sizeof services);
    services.rawAlloc = rawAlloc;
    services.callocMem = callocMem;
    services.reallocMem = reallocMem;
    services.freeMem = freeMem;
    services.newRecord = newRecord;
    services.putRecord = putRecord;
    services.takeRecord = takeRecord;
    memset(&params, 0, sizeof params);
    params.services = &services;

    source =
        start != NULL && next != NULL && shutDown != NULL ? start(&stream.table, &params) : NULL;
    while (source != NULL) {
        Record* r = (Record*)next(source);
        int32_t kind;
        intptr_t i;
        if (r == NULL) break; /* a reading error: stop, as the reader expects */
        kind = r->kind;
        if (kind == RecordTextStart) puts("S");
        if (kind == RecordTextEnd) puts("E");
        if (kind == RecordEndOfDocument) puts("D");
        if (kind == RecordText) {
            fputs(r->words.textLength > 0 ? "T " : "T", stdout);
            for (i = 0; i < r->words.textLength; ++i)
                printf("%02x", (unsigned char)r->words.text[i]);
            putchar('\n');
            free(r->words.text); /* the text buffer is the host's, like the record */
        }
        free(r);
        if (kind == RecordEndOfDocument) {
            status = 0;
            break;
        }
    }
    /* Records still queued after an error would be the host's to free; the source's
     * queue word goes with the source, so they are taken before shutting down. */
    if (source != NULL) {
        OutputRecord* left;
        while ((left = takeRecord(&services, &source->recordQueue, 0)) != NULL) {
            if (((Record*)left)->kind == RecordText) free(left->text);
            free(left);
        }
        shutDown(source);
    }
    dlclose(plugin);
    return status;
}
