#include "engine/nav/CssCheck.h"

#include "engine/LoadedLibrary.h"
#include "engine/demux/PsDemuxer.h"

#include <QFile>
#include <QLoggingCategory>

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcCss, "velmora.dvd.css", QtWarningMsg)

namespace velmora::nav {

namespace {

// Without a logger libdvdread prints to standard output, which the tools
// keep for their JSON.
void readLog(void *, dvd_logger_level_t, const char *format, va_list args)
{
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    qCDebug(lcCss, "%s", line);
}
const dvd_logger_cb readLogger = {readLog};

struct ReaderCloser { void operator()(dvd_reader_t *r) const { DVDClose(r); } };
struct IfoCloser { void operator()(ifo_handle_t *h) const { ifoClose(h); } };
struct FileCloser { void operator()(dvd_file_t *f) const { DVDCloseFile(f); } };

// Sectors read per call: a drive that stumbles fails one small read, not all.
constexpr int ReadChunk = 16;

} // namespace

QString encryptedDiscMessage()
{
    return QStringLiteral("This DVD is encrypted (CSS). Install libdvdcss to play it: "
                          "sudo apt install libdvd-pkg && sudo dpkg-reconfigure libdvd-pkg");
}

bool cssLibraryLoaded()
{
    return libraryInProcess("libdvdcss.so.2");
}

TitleAccess checkFirstTitle(const QString &path)
{
    std::unique_ptr<dvd_reader_t, ReaderCloser> reader(
        DVDOpen2(nullptr, &readLogger, QFile::encodeName(path).constData()));
    if (!reader)
        return TitleAccess::Unknown;
    std::unique_ptr<ifo_handle_t, IfoCloser> vmg(ifoOpen(reader.get(), 0));
    if (!vmg || !vmg->tt_srpt || vmg->tt_srpt->nr_of_srpts < 1)
        return TitleAccess::Unknown;
    const int titleSet = vmg->tt_srpt->title[0].title_set_nr;
    std::unique_ptr<dvd_file_t, FileCloser> file(DVDOpenFile(reader.get(), titleSet, DVD_READ_TITLE_VOBS));
    if (!file)
        return TitleAccess::Unreadable;
    const ssize_t size = DVDFileSize(file.get());
    const int sectors = int(std::min<ssize_t>(size > 0 ? size : 0, ProbeSectors));
    if (sectors == 0)
        return TitleAccess::Unreadable;

    std::vector<unsigned char> buffer(std::size_t(ReadChunk) * DVD_VIDEO_LB_LEN);
    const demux::PsDemuxer demuxer;
    int readSectors = 0;
    int scrambled = 0; // sectors with a scrambled packet
    int clear = 0;     // sectors with pictures or sound in the clear
    for (int at = 0; at < sectors; at += ReadChunk) {
        const int count = std::min(ReadChunk, sectors - at);
        const ssize_t got = DVDReadBlocks(file.get(), at, std::size_t(count), buffer.data());
        if (got <= 0)
            continue; // a drive refusing unauthenticated reads fails every one
        readSectors += int(got);
        for (ssize_t i = 0; i < got; ++i) {
            bool avInClear = false;
            const demux::DemuxStats stats =
                demuxer.demux(buffer.data() + i * DVD_VIDEO_LB_LEN, DVD_VIDEO_LB_LEN, [&](const demux::EsPacket &p) {
                    avInClear = avInClear || (p.type != demux::StreamType::NavPci && p.type != demux::StreamType::NavDsi);
                });
            if (stats.scrambled > 0)
                ++scrambled;
            else if (avInClear)
                ++clear;
        }
    }
    qCDebug(lcCss, "title set %d: %d of %d sectors read, %d scrambled, %d clear", titleSet, readSectors, sectors,
            scrambled, clear);
    if (readSectors == 0)
        return TitleAccess::Unreadable;
    // A damaged sector may look scrambled by chance; a protected title is
    // scrambled throughout.
    return scrambled > clear ? TitleAccess::Scrambled : TitleAccess::Clear;
}

} // namespace velmora::nav
