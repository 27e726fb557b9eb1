#pragma once
// What a disc holds, read once from its information files when it is opened.
// Plain values; copy freely between threads.

#include <QString>
#include <QVector>
#include <cstdint>

namespace velmora::nav {

struct AudioStreamInfo
{
    int number = 0;           // logical stream number (0-7)
    QString languageCode;     // ISO 639-1 two letters, empty when the disc gives none
    QString language;         // English name ("English"), "Unknown" when none
    QString format;           // "AC-3", "MPEG", "LPCM", "DTS", "SDDS", "Unknown"
    int channels = 0;
};

struct SubpictureStreamInfo
{
    int number = 0;           // logical stream number (0-31)
    QString languageCode;
    QString language;
};

struct VideoInfo
{
    QString standard;         // "PAL" or "NTSC"
    int width = 720;
    int height = 576;
    bool wide = false;        // 16:9 display aspect, else 4:3
    int framesPerSecond = 25; // nominal: 25 or 30
};

struct TitleInfo
{
    int number = 0;                     // 1-based
    int titleSet = 0;                   // VTS number
    std::int64_t duration90k = 0;       // whole title, 90 kHz
    QVector<std::int64_t> chapterStarts90k; // one per chapter, first is 0
    QVector<AudioStreamInfo> audio;     // streams present in the title
    QVector<SubpictureStreamInfo> subpictures;
    VideoInfo video;
};

struct DiscInfo
{
    QString volume;
    QVector<TitleInfo> titles;
    // Menus the information files declare: the title menu (2) in the video
    // manager, and per title set (index = set number) a bit per menu number
    // (1 << menu) of the set's own menus (root 3, subpicture 4, chapter 7...).
    bool hasTitleMenu = false;
    QVector<std::uint32_t> titleSetMenus;

    bool titleSetHasMenu(int titleSet, int menu) const
    {
        return titleSet >= 1 && titleSet < titleSetMenus.size() && menu >= 0 && menu < 32
               && (titleSetMenus[titleSet] & (1u << menu)) != 0;
    }

    const TitleInfo *title(int number) const
    {
        return number >= 1 && number <= titles.size() ? &titles[number - 1] : nullptr;
    }
};

// English name of an ISO 639-1 code; "Unknown" for empty or unknown codes.
QString languageName(const QString &code);

} // namespace velmora::nav
