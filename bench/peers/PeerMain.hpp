// The loop every peer program runs: each drawing of the command line read in turn, then the
// counts that bench/peers.py reads from the last line of standard error.
#ifndef PEER_MAIN_HPP
#define PEER_MAIN_HPP

#include <cstdio>
#include <cstring>

// True for the options a peer takes ("--all", "--fields"): every other argument is a drawing.
inline bool isOption(const char* argument) { return std::strncmp(argument, "--", 2) == 0; }

// True when `name` is among the options of the command line.
inline bool hasOption(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

// Reads every argument but the options with readDrawing (false: it could not); returns 0.
template <class ReadDrawing>
int readEach(int argc, char** argv, ReadDrawing readDrawing, const long long& texts) {
    long long documents = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (isOption(argv[i])) continue;
        ++documents;
        if (!readDrawing(argv[i])) ++failed;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "documents %lld failed %lld texts %lld\n", documents, failed, texts);
    return 0;
}

#endif
