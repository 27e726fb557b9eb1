#pragma once
// Discs whose titles are scrambled by their copy protection (CSS).
//
// libdvdread unscrambles a commercial disc only when libdvdcss is installed;
// without it the title sectors arrive as they are on the disc: pack and PES
// headers in the clear (their scrambling-control bits set), the pictures and
// sound noise. Some drives refuse to hand out such sectors at all until the
// disc is authenticated, which only libdvdcss does: reads then fail.
//
// The playback pipeline notices scrambled packets as it demultiplexes (the
// demuxer counts them and passes none on); this check answers the same
// question up front, for the tools, from the start of title 1.
//
// Threads: the functions share no state; call them from any thread.

#include <QString>

namespace velmora::nav {

// What the user is told, in the player and by the tools.
QString encryptedDiscMessage();

// libdvdcss is loaded in this process (libdvdread loads it, when installed,
// the first time it opens a disc).
bool cssLibraryLoaded();

enum class TitleAccess {
    Clear,      // pictures and sound read in the clear
    Scrambled,  // the packets say they are scrambled
    Unreadable, // the title's sectors cannot be read
    Unknown,    // no title, or no information files: nothing to say here
};

// Reads the first sectors of title 1's title set (up to ProbeSectors) and
// says whether its pictures and sound come through in the clear.
TitleAccess checkFirstTitle(const QString &path);

// The sectors checkFirstTitle() reads at most (1 MiB).
inline constexpr int ProbeSectors = 512;

} // namespace velmora::nav
