#include "DvdNavigator.h"

#include "engine/EngineError.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Q_LOGGING_CATEGORY(lcDvd, "velmora.dvd", QtWarningMsg)

namespace velmora::nav {

namespace {

// libdvdread and libdvdnav print to standard output unless given a logger;
// ours sends their lines to the Qt log (standard error by default).
void logLine(int level, const char *format, va_list args)
{
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    switch (level) {
    case DVDNAV_LOGGER_LEVEL_ERROR: qCInfo(lcDvd, "%s", line); break;
    case DVDNAV_LOGGER_LEVEL_WARN: qCInfo(lcDvd, "%s", line); break;
    default: qCDebug(lcDvd, "%s", line); break;
    }
}
void navLog(void *, dvdnav_logger_level_t level, const char *format, va_list args) { logLine(level, format, args); }
void readLog(void *, dvd_logger_level_t level, const char *format, va_list args) { logLine(level, format, args); }

const dvdnav_logger_cb navLogger = {navLog};
const dvd_logger_cb readLogger = {readLog};

struct ReaderCloser { void operator()(dvd_reader_t *r) const { DVDClose(r); } };
struct IfoCloser { void operator()(ifo_handle_t *h) const { ifoClose(h); } };
using ReaderPtr = std::unique_ptr<dvd_reader_t, ReaderCloser>;
using IfoPtr = std::unique_ptr<ifo_handle_t, IfoCloser>;

QString langCode(std::uint16_t code)
{
    const char a = char(code >> 8);
    const char b = char(code & 0xff);
    if (a < 'a' || a > 'z' || b < 'a' || b > 'z')
        return {};
    return QString(QChar(a)) + QChar(b);
}

// One bit per menu number with an entry program chain in any language unit.
std::uint32_t menuBits(const ifo_handle_t *ifo)
{
    std::uint32_t bits = 0;
    if (!ifo || !ifo->pgci_ut)
        return bits;
    for (int l = 0; l < ifo->pgci_ut->nr_of_lus; ++l) {
        const pgcit_t *pgcit = ifo->pgci_ut->lu[l].pgcit;
        if (!pgcit)
            continue;
        for (int p = 0; p < pgcit->nr_of_pgci_srp; ++p) {
            const std::uint8_t id = pgcit->pgci_srp[p].entry_id;
            if (id & 0x80)
                bits |= 1u << (id & 0x0f);
        }
    }
    return bits;
}

QString audioFormatName(unsigned format)
{
    switch (format) {
    case 0: return QStringLiteral("AC-3");
    case 2:
    case 3: return QStringLiteral("MPEG");
    case 4: return QStringLiteral("LPCM");
    case 5: return QStringLiteral("SDDS");
    case 6: return QStringLiteral("DTS");
    default: return QStringLiteral("Unknown");
    }
}

// Resolves what the user named to what libdvdread opens, or explains why not.
bool resolveSource(const QString &given, QString *resolved, OpenError *error)
{
    auto fail = [&](std::int32_t code, const QString &text) {
        if (error)
            *error = OpenError{code, text};
        return false;
    };
    if (given.isEmpty()) {
        for (const char *dev : {"/dev/dvd", "/dev/sr0"}) {
            if (QFileInfo::exists(QString::fromLatin1(dev))) {
                *resolved = QString::fromLatin1(dev);
                return true;
            }
        }
        return fail(ErrorCode::NoDisc, QStringLiteral("No DVD drive found"));
    }
    const QFileInfo fi(given);
    if (!fi.exists())
        return fail(ErrorCode::NoDisc, QStringLiteral("No DVD found in %1").arg(given));
    if (fi.isDir()) {
        const QDir dir(fi.absoluteFilePath());
        // A disc folder holds VIDEO_TS; a VIDEO_TS folder holds VIDEO_TS.IFO (any case).
        const QStringList entries = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        bool hasVideoTs = false;
        bool hasIfo = false;
        for (const QString &e : entries) {
            if (e.compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0 && QFileInfo(dir.filePath(e)).isDir())
                hasVideoTs = true;
            if (e.compare(QLatin1String("VIDEO_TS.IFO"), Qt::CaseInsensitive) == 0)
                hasIfo = true;
        }
        if (!hasVideoTs && !hasIfo)
            return fail(ErrorCode::NoDisc, QStringLiteral("No DVD found in %1").arg(given));
        *resolved = fi.absoluteFilePath();
        return true;
    }
    if (fi.fileName().compare(QLatin1String("VIDEO_TS.IFO"), Qt::CaseInsensitive) == 0) {
        // Naming the information file means its folder; libdvdread wants the folder.
        *resolved = fi.absolutePath();
        return true;
    }
    if (!fi.isReadable())
        return fail(ErrorCode::NotADvd, QStringLiteral("Cannot read %1").arg(given));
    *resolved = fi.absoluteFilePath();
    return true;
}

std::int64_t dvdTimeTo90k(const dvd_time_t &t)
{
    const auto bcd = [](std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0f); };
    const int fps = (t.frame_u >> 6) == 1 ? 25 : 30;
    return (std::int64_t(bcd(t.hour)) * 3600 + bcd(t.minute) * 60 + bcd(t.second)) * 90000
           + std::int64_t(bcd(t.frame_u & 0x3f)) * 90000 / fps;
}

// Playing time of a program chain's cells [first, last) (0-based), counting
// one cell of each angle block, as the navigator's title time does.
std::int64_t cellsTime(const pgc_t &pgc, int first, int last)
{
    std::int64_t total = 0;
    for (int c = std::max(0, first); c < last && c < pgc.nr_of_cells; ++c) {
        const cell_playback_t &cell = pgc.cell_playback[c];
        if (cell.block_type == BLOCK_TYPE_ANGLE_BLOCK && cell.block_mode != BLOCK_MODE_FIRST_CELL)
            continue;
        total += dvdTimeTo90k(cell.playback_time);
    }
    return total;
}

// Chapter starts and the title's length from the title set's tables.
// (Not dvdnav_describe_title_chapters: it runs the disc's program on a copy
// of the virtual machine, and a disc whose menus jump to each other forever
// hangs it inside the call.)
void readChapters(const ifo_handle_t &vts, int vtsTitle, TitleInfo &title)
{
    if (!vts.vts_ptt_srpt || !vts.vts_pgcit || vtsTitle < 1 || vtsTitle > vts.vts_ptt_srpt->nr_of_srpts)
        return;
    const ttu_t &ttu = vts.vts_ptt_srpt->title[vtsTitle - 1];
    std::int64_t pgcBase = 0; // time of the program chains of this title before the current one
    int lastPgcn = 0;
    const pgc_t *lastPgc = nullptr;
    for (int c = 0; c < ttu.nr_of_ptts; ++c) {
        const int pgcn = ttu.ptt[c].pgcn;
        const int pgn = ttu.ptt[c].pgn;
        if (pgcn < 1 || pgcn > vts.vts_pgcit->nr_of_pgci_srp)
            break;
        const pgc_t *pgc = vts.vts_pgcit->pgci_srp[pgcn - 1].pgc;
        if (!pgc || !pgc->program_map || !pgc->cell_playback || pgn < 1 || pgn > pgc->nr_of_programs)
            break;
        if (pgcn != lastPgcn) {
            if (lastPgc)
                pgcBase += cellsTime(*lastPgc, 0, lastPgc->nr_of_cells);
            lastPgcn = pgcn;
            lastPgc = pgc;
        }
        const int firstCell = pgc->program_map[pgn - 1] - 1;
        title.chapterStarts90k.append(pgcBase + cellsTime(*pgc, 0, firstCell));
    }
    if (lastPgc)
        title.duration90k = pgcBase + cellsTime(*lastPgc, 0, lastPgc->nr_of_cells);
}

} // namespace

QString languageName(const QString &code)
{
    if (code.size() != 2)
        return QStringLiteral("Unknown");
    const QLocale locale(code);
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("Unknown");
    return QLocale::languageToString(locale.language());
}

void DvdNavigator::Closer::operator()(dvdnav_s *nav) const
{
    dvdnav_close(nav);
}

DvdNavigator::DvdNavigator(std::unique_ptr<dvdnav_s, Closer> nav, QString path)
    : m_nav(std::move(nav)), m_path(std::move(path))
{
}

DvdNavigator::~DvdNavigator() = default;

QString DvdNavigator::lastError() const
{
    return QString::fromUtf8(dvdnav_err_to_string(m_nav.get()));
}

std::unique_ptr<DvdNavigator> DvdNavigator::open(const QString &path, OpenError *error)
{
    QString resolved;
    if (!resolveSource(path, &resolved, error))
        return nullptr;
    const QString shown = path.isEmpty() ? resolved : path;

    dvdnav_t *raw = nullptr;
    const QByteArray encoded = QFile::encodeName(resolved);
    if (dvdnav_open2(&raw, nullptr, &navLogger, encoded.constData()) != DVDNAV_STATUS_OK || !raw) {
        if (error)
            *error = OpenError{ErrorCode::NotADvd, QStringLiteral("Cannot read %1").arg(shown)};
        return nullptr;
    }
    std::unique_ptr<DvdNavigator> nav(new DvdNavigator(std::unique_ptr<dvdnav_s, Closer>(raw), resolved));

    // Positions and time searches count in the program chain (the title),
    // not in the cell, which is what a seek bar means.
    dvdnav_set_PGC_positioning_flag(raw, 1);
    // No read-ahead cache: when its read of a stretch of sectors fails,
    // libdvdnav hands out the first sector of it all the same, with what the
    // buffer held before, as if it had been read. Sector by sector every
    // failure is reported (the system's own read-ahead keeps it as fast).
    dvdnav_set_readahead_flag(raw, 0);
    nav->selectLanguages();

    nav->readInfo();
    if (nav->m_info.titles.isEmpty()) {
        if (error)
            *error = OpenError{ErrorCode::NotADvd, QStringLiteral("Cannot read %1").arg(shown)};
        return nullptr;
    }
    return nav;
}

void DvdNavigator::selectLanguages()
{
    QByteArray lang = QLocale::system().name().left(2).toLatin1();
    if (lang.size() != 2 || lang == "C")
        lang = "en";
    dvdnav_menu_language_select(m_nav.get(), lang.data());
    dvdnav_audio_language_select(m_nav.get(), lang.data());
    dvdnav_spu_language_select(m_nav.get(), lang.data());
}

bool DvdNavigator::lastFailureIsUnreadableSector() const
{
    // libdvdnav says so only in words; these are its texts for a failed
    // read of a NAV packet or a data block, and for a NAV packet that is not one.
    static const char *const unreadable[] = {"Error reading NAV packet.", "Error reading from DVD.",
                                             "Expected NAV packet but none found."};
    const char *error = dvdnav_err_to_string(m_nav.get());
    if (!error)
        return false;
    for (const char *text : unreadable) {
        if (std::strcmp(error, text) == 0)
            return true;
    }
    return false;
}

bool DvdNavigator::rewind()
{
    // The machine's registers go back to their defaults with it: our
    // language choices are set again.
    if (dvdnav_reset(m_nav.get()) != DVDNAV_STATUS_OK)
        return false;
    selectLanguages();
    return true;
}

void DvdNavigator::readInfo()
{
    dvdnav_t *nav = m_nav.get();
    const char *volume = nullptr;
    if (dvdnav_get_title_string(nav, &volume) == DVDNAV_STATUS_OK && volume && *volume)
        m_info.volume = QString::fromLatin1(volume).trimmed();
    if (m_info.volume.isEmpty()) {
        // A copied folder has no volume label; its folder name is the nearest thing.
        QFileInfo fi(m_path);
        if (fi.fileName().compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0)
            fi = QFileInfo(fi.absolutePath());
        m_info.volume = fi.isDir() ? fi.fileName() : fi.completeBaseName();
    }

    // Streams and video attributes come from the information files; a second
    // reader handle keeps this independent of the navigator's state.
    ReaderPtr reader(DVDOpen2(nullptr, &readLogger, QFile::encodeName(m_path).constData()));
    if (!reader)
        return;
    IfoPtr vmg(ifoOpen(reader.get(), 0));
    if (!vmg || !vmg->tt_srpt)
        return;

    const int titleCount = vmg->tt_srpt->nr_of_srpts;
    std::vector<IfoPtr> sets(vmg->vmgi_mat ? vmg->vmgi_mat->vmg_nr_of_title_sets + 1 : 1);
    m_info.hasTitleMenu = (menuBits(vmg.get()) & (1u << 2)) != 0;
    m_info.titleSetMenus.fill(0, int(sets.size()));
    for (int vtsN = 1; vtsN < int(sets.size()); ++vtsN) {
        sets[vtsN].reset(ifoOpen(reader.get(), vtsN));
        m_info.titleSetMenus[vtsN] = menuBits(sets[vtsN].get());
    }
    for (int t = 0; t < titleCount; ++t) {
        const title_info_t &entry = vmg->tt_srpt->title[t];
        TitleInfo title;
        title.number = t + 1;
        title.titleSet = entry.title_set_nr;

        const int vtsN = entry.title_set_nr;
        if (vtsN >= 1 && vtsN < int(sets.size())) {
            if (!sets[vtsN])
                sets[vtsN].reset(ifoOpen(reader.get(), vtsN));
            ifo_handle_t *vts = sets[vtsN].get();
            if (vts && vts->vtsi_mat) {
                const vtsi_mat_t *mat = vts->vtsi_mat;
                const video_attr_t &v = mat->vts_video_attr;
                title.video.standard = v.video_format == 1 ? QStringLiteral("PAL") : QStringLiteral("NTSC");
                title.video.height = v.video_format == 1 ? 576 : 480;
                title.video.framesPerSecond = v.video_format == 1 ? 25 : 30;
                static const int widths[] = {720, 704, 352, 352};
                title.video.width = widths[v.picture_size & 3];
                if ((v.picture_size & 3) == 3)
                    title.video.height /= 2;
                title.video.wide = v.display_aspect_ratio == 3;

                // Streams present in the title's first program chain.
                const pgc_t *pgc = nullptr;
                if (vts->vts_ptt_srpt && entry.vts_ttn >= 1 && entry.vts_ttn <= vts->vts_ptt_srpt->nr_of_srpts
                    && vts->vts_pgcit) {
                    const ttu_t &ttu = vts->vts_ptt_srpt->title[entry.vts_ttn - 1];
                    if (ttu.nr_of_ptts > 0) {
                        const int pgcn = ttu.ptt[0].pgcn;
                        if (pgcn >= 1 && pgcn <= vts->vts_pgcit->nr_of_pgci_srp)
                            pgc = vts->vts_pgcit->pgci_srp[pgcn - 1].pgc;
                    }
                }
                for (int a = 0; a < mat->nr_of_vts_audio_streams && a < 8; ++a) {
                    if (pgc && !(pgc->audio_control[a] & 0x8000))
                        continue;
                    const audio_attr_t &attr = mat->vts_audio_attr[a];
                    AudioStreamInfo s;
                    s.number = a;
                    s.languageCode = attr.lang_type == 1 ? langCode(attr.lang_code) : QString();
                    s.language = languageName(s.languageCode);
                    s.format = audioFormatName(attr.audio_format);
                    s.channels = attr.channels + 1;
                    title.audio.append(s);
                }
                for (int s = 0; s < mat->nr_of_vts_subp_streams && s < 32; ++s) {
                    if (pgc && !(pgc->subp_control[s] & 0x80000000u))
                        continue;
                    const subp_attr_t &attr = mat->vts_subp_attr[s];
                    SubpictureStreamInfo info;
                    info.number = s;
                    info.languageCode = attr.type == 1 ? langCode(attr.lang_code) : QString();
                    info.language = languageName(info.languageCode);
                    title.subpictures.append(info);
                }
                readChapters(*vts, entry.vts_ttn, title);
            }
        }
        m_info.titles.append(title);
    }
}

} // namespace velmora::nav
