// Loads the reader plug-in the way a host does: dlopen of the shared library and dlsym
// of its entry points, nothing linked in.
#ifndef WQHOST_PLUGIN_HPP
#define WQHOST_PLUGIN_HPP

#include <cstdint>

#include "DxfSource.h"

namespace wqhost {

struct Plugin {
    void* library;  // dlopen handle, null when not loaded
    DxfSource* (*startSrcDXF)(HostStream*, HostParams*);
    OutputRecord* (*getDXFobject)(DxfSource*);
    void (*shutDownDXFsrc)(DxfSource*);
    int32_t version;  // the plug-in's _lib_version
};

// Loads the plug-in at `path`. On failure returns false and writes a message (dlerror's,
// or the missing symbol's) into `error` of `errorSize` bytes.
bool loadPlugin(Plugin* plugin, const char* path, char* error, int32_t errorSize);
void unloadPlugin(Plugin* plugin);

}  // namespace wqhost

#endif
