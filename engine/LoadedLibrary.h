#pragma once
// Whether a shared library is in this process now, by its file name
// ("libdvdcss.so.2"). It only looks: RTLD_NOLOAD never loads the library.
//
// Threads: any.

#include <dlfcn.h>

namespace velmora {

inline bool libraryInProcess(const char *fileName)
{
    void *handle = dlopen(fileName, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle); // drops only the reference this call took
    return true;
}

} // namespace velmora
