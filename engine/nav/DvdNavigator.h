#pragma once
// The DVD navigator: libdvdnav's handle, owned, with its errors turned into
// text and its logging routed to our log (never to standard output).
//
// Threads: a DvdNavigator is not thread-safe. One thread at a time uses it:
// the thread that opens it (a worker), then the playback pipeline's
// navigation thread, which alone calls libdvdnav while playback runs. The
// object may be created on one thread and used on another; info() is
// read-only after open() and may be read from any thread.

#include "engine/nav/DiscInfo.h"

#include <QString>
#include <cstdint>
#include <memory>

struct dvdnav_s;

namespace velmora::nav {

struct OpenError
{
    std::int32_t code = 0;   // a velmora::ErrorCode value
    QString message;         // short, for the user: "No DVD found in PATH"
};

class DvdNavigator
{
public:
    // Opens a disc folder, its VIDEO_TS folder, an ISO image or a device.
    // Empty path: the first of /dev/dvd, /dev/sr0 that exists. On failure
    // returns null and fills error. Installs our logger before libdvdread
    // opens anything, sets PGC-based positioning and the language
    // preferences of the current locale.
    static std::unique_ptr<DvdNavigator> open(const QString &path, OpenError *error);

    ~DvdNavigator();
    DvdNavigator(const DvdNavigator &) = delete;
    DvdNavigator &operator=(const DvdNavigator &) = delete;

    // The resolved source path (the device chosen for an empty path).
    const QString &path() const { return m_path; }
    // The disc's structure, read when it was opened.
    const DiscInfo &info() const { return m_info; }

    // The raw handle, for the pipeline's calls. Same threading rule.
    dvdnav_s *handle() const { return m_nav.get(); }
    // libdvdnav's text for the last failure on this handle.
    QString lastError() const;
    // The last failure was a sector that could not be read, or held no NAV
    // packet where the disc's tables put one (a scratch, a damaged disc):
    // the navigator can be moved past it. Anything else (a file that does
    // not open, no program chain) is not passed by.
    bool lastFailureIsUnreadableSector() const;
    // Back to the disc's first-play program, as if just opened, without
    // reading the information files again. False when libdvdnav refuses.
    bool rewind();

private:
    struct Closer { void operator()(dvdnav_s *nav) const; };
    DvdNavigator(std::unique_ptr<dvdnav_s, Closer> nav, QString path);
    void readInfo();
    void selectLanguages();

    std::unique_ptr<dvdnav_s, Closer> m_nav;
    QString m_path;
    DiscInfo m_info;
};

} // namespace velmora::nav
