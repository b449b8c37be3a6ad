// Loading of the reader plug-in through dlopen and dlsym.
#include "Plugin.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace wqhost {
namespace {

void setError(char* error, int32_t errorSize, const char* what, const char* detail) {
    if (error == nullptr || errorSize <= 0) return;
    std::snprintf(error, static_cast<size_t>(errorSize), "%s%s", what, detail ? detail : "");
}

}  // namespace

bool loadPlugin(Plugin* plugin, const char* path, char* error, int32_t errorSize) {
    std::memset(plugin, 0, sizeof *plugin);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        setError(error, errorSize, "", dlerror());
        return false;
    }
    // dlsym hands out object pointers; POSIX guarantees they convert to function pointers.
    void* start = dlsym(library, "startSrcDXF");
    void* get = dlsym(library, "getDXFobject");
    void* shutDown = dlsym(library, "shutDownDXFsrc");
    const int32_t* version = static_cast<const int32_t*>(dlsym(library, "_lib_version"));
    const char* missing = start == nullptr      ? "startSrcDXF"
                          : get == nullptr      ? "getDXFobject"
                          : shutDown == nullptr ? "shutDownDXFsrc"
                          : version == nullptr  ? "_lib_version"
                                                : nullptr;
    if (missing != nullptr) {
        setError(error, errorSize, "plug-in does not export ", missing);
        dlclose(library);
        return false;
    }
    plugin->library = library;
    std::memcpy(&plugin->startSrcDXF, &start, sizeof start);
    std::memcpy(&plugin->getDXFobject, &get, sizeof get);
    std::memcpy(&plugin->shutDownDXFsrc, &shutDown, sizeof shutDown);
    plugin->version = *version;
    return true;
}

void unloadPlugin(Plugin* plugin) {
    if (plugin->library != nullptr) dlclose(plugin->library);
    std::memset(plugin, 0, sizeof *plugin);
}

}  // namespace wqhost
