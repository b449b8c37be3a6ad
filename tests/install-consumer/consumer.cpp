// Prints the text values of a drawing held in memory, one a line, read through the installed
// toolkit's document API by the installed plug-in: a host built against an install. The
// build gives the plug-in's path as WQ_PLUGIN, the way the README shows for CMake and pkg-config.
#include <wqdxfrdr/wqdxfrdr.h>

#include <cstdio>
#include <string>
#include <wqdxfrdr/host/Document.hpp>

int main() {
    const std::string drawing =
        "  0\nSECTION\n  2\nENTITIES\n  0\nTEXT\n  8\n0\n  1\nInstalled\n"
        "  0\nMTEXT\n  1\nread by the toolkit\n  0\nATTRIB\n  1\nand linked\n  2\nTAG\n"
        "  0\nENDSEC\n  0\nEOF\n";
    wqhost::PluginLibrary plugin;
    std::string error;
    if (!plugin.load(WQ_PLUGIN, &error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    // Linked as well as loaded: the library the build links is the one it names.
    if (plugin.entries().version != _lib_version) return 1;
    auto document = wqhost::Document::fromBytes(plugin, "memory", drawing, wqhost::ReadOptions());
    wqhost::TextEntity entity;
    while (document.next(&entity))
        for (const std::string& text : entity.texts) std::printf("%s\n", text.c_str());
    return document.status() == wqhost::DocumentStatus::Ok ? 0 : 1;
}
