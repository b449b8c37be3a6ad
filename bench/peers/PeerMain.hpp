// The loop every peer program runs: each drawing of the command line read in turn, then the
// counts that bench/peers.py reads from the last line of standard error.
#ifndef PEER_MAIN_HPP
#define PEER_MAIN_HPP

#include <cstdio>
#include <cstring>

// Reads every argument but "--all" with readDrawing (false: it could not); returns 0.
template <class ReadDrawing>
int readEach(int argc, char** argv, ReadDrawing readDrawing, const long long& texts) {
    long long documents = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all") == 0) continue;
        ++documents;
        if (!readDrawing(argv[i])) ++failed;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "documents %lld failed %lld texts %lld\n", documents, failed, texts);
    return 0;
}

#endif
