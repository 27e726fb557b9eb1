#include "FilterLibrary.h"

#include "engine/LoadedLibrary.h"

extern "C" {
#include <libavfilter/version.h>
#include <libavutil/macros.h>
}

#include <dlfcn.h>

#include <mutex>

namespace velmora::video {

namespace {

struct Loaded
{
    FilterLibrary functions;
    bool ok = false;
    QString error;
};

template <typename F>
bool resolve(void *handle, const char *name, F &into, QString &error)
{
    into = reinterpret_cast<F>(dlsym(handle, name));
    if (!into && error.isEmpty())
        error = QStringLiteral("%1 has no %2").arg(QLatin1String(FilterLibrary::fileName()), QLatin1String(name));
    return into != nullptr;
}

const Loaded &loaded()
{
    static Loaded state;
    static std::once_flag once;
    std::call_once(once, [] {
        // Never closed: filter graphs made from it may live until the end.
        void *handle = dlopen(FilterLibrary::fileName(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            state.error = QString::fromLocal8Bit(why ? why : FilterLibrary::fileName());
            return;
        }
        FilterLibrary &f = state.functions;
        QString &e = state.error;
        state.ok = resolve(handle, "avfilter_graph_alloc", f.graphAlloc, e)
                   & resolve(handle, "avfilter_graph_free", f.graphFree, e)
                   & resolve(handle, "avfilter_get_by_name", f.getByName, e)
                   & resolve(handle, "avfilter_graph_create_filter", f.createFilter, e)
                   & resolve(handle, "avfilter_link", f.link, e)
                   & resolve(handle, "avfilter_graph_config", f.config, e)
                   & resolve(handle, "av_buffersrc_add_frame_flags", f.addFrame, e)
                   & resolve(handle, "av_buffersink_get_frame", f.getFrame, e)
                   & resolve(handle, "av_buffersink_get_time_base", f.sinkTimeBase, e);
    });
    return state;
}

} // namespace

const char *FilterLibrary::fileName()
{
    return "libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR);
}

const FilterLibrary *FilterLibrary::get()
{
    const Loaded &state = loaded();
    return state.ok ? &state.functions : nullptr;
}

QString FilterLibrary::loadError()
{
    return loaded().error;
}

bool FilterLibrary::inProcess()
{
    return libraryInProcess(fileName());
}

} // namespace velmora::video
