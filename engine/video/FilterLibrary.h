#pragma once
// libavfilter (the deinterlacer's home), loaded when the first interlaced
// picture needs it rather than when the program starts. With what Debian's
// build of it pulls in (speech-synthesis voices, SVG rendering, shader
// compilers...) it adds about 20 MB of resident memory, which progressive
// discs, still menus and most runs never use. Loading it costs about 30 ms,
// once, on the thread that first asks.
//
// Threads: any. The first call loads the library (a second caller waits for
// it); it then stays loaded for the life of the process.

#include <QString>

#include <cstdint> // before FFmpeg's headers, which want UINT64_C in C++

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace velmora::video {

struct FilterLibrary
{
    decltype(&avfilter_graph_alloc) graphAlloc = nullptr;
    decltype(&avfilter_graph_free) graphFree = nullptr;
    decltype(&avfilter_get_by_name) getByName = nullptr;
    decltype(&avfilter_graph_create_filter) createFilter = nullptr;
    decltype(&avfilter_link) link = nullptr;
    decltype(&avfilter_graph_config) config = nullptr;
    decltype(&av_buffersrc_add_frame_flags) addFrame = nullptr;
    decltype(&av_buffersink_get_frame) getFrame = nullptr;
    decltype(&av_buffersink_get_time_base) sinkTimeBase = nullptr;

    // The library's functions, or null when it cannot be loaded or lacks one
    // of them; then loadError() says why. The answer never changes.
    static const FilterLibrary *get();
    static QString loadError();
    // Whether the library is in the process now (it only looks).
    static bool inProcess();
    // Its file name, for the major version the program was built against.
    static const char *fileName();
};

} // namespace velmora::video
