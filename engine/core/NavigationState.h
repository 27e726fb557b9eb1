#pragma once
// The navigation thread's own state (private to the pipeline's navigation
// and scanning code). Navigation thread only.

#include "engine/core/PipelineItems.h"
#include "engine/core/PipelineTiming.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/core/UnreadableRun.h"
#include "engine/demux/PsDemuxer.h"

namespace velmora::core {

struct PlaybackPipeline::NavState
{
    int serial = -1;
    // Timeline: the disc's time stamps plus offset; the offset changes
    // wherever the stamps jump so the timeline runs on without a break.
    std::int64_t offset = 0;
    bool haveLastEnd = false;
    std::int64_t lastEndPtm = 0;       // disc time stamp where the last unit ended
    // Our timeline where the last unit ended. It starts well above 0: sound
    // multiplexed ahead of the first unit must keep a time stamp.
    std::int64_t timelineEnd = 90000 * 10;
    std::shared_ptr<const NavUnit> unit;
    std::int64_t seekTarget = -1;
    // Sound.
    int audioPhysical = -1;
    demux::StreamType audioType = demux::StreamType::Ac3;
    bool audioBroken = false;
    // The logical stream the disc's program chose (its audio register, as
    // the last AUDIO_STREAM_CHANGE told it), -1 unknown. libdvdnav's
    // "active" stream is a physical number, which several streams of
    // different formats may share.
    int navigatorAudio = -1;
    // What the navigator told us.
    bool wide = false;
    int codedHeight = 576;
    int framesPerSecond = 25;
    int titleSet = 0;
    int noDataEvents = 0;
    int scrambledBlocks = 0;           // blocks in a row with scrambled packets
    // Sectors that cannot be read: the run being passed over, and what
    // dates a sector the navigator has no time for: the last unit read
    // (its sector in the program chain, counted as dvdnav_get_position
    // does, and its title time; 0 and 0 for the chain's start) and the
    // chain's length in time.
    UnreadableRun unreadable;
    bool skipping = false;             // the next HOP_CHANNEL is our move past a hole
    std::int64_t failedSector = -1;    // where the last read failed in this program chain, -1 none
    std::int64_t anchorSector = 0;
    std::int64_t anchorTicks = 0;
    std::int64_t pgcTicks = 0;
    // The program chain's streams, read again at every event that may change them.
    std::shared_ptr<const StreamSummary> streams = std::make_shared<const StreamSummary>();
    int navigatorSubpicture = -1;
    // Speed of this serial; a key-frame scan reads one unit per step.
    ScanSpeed speed = ScanSpeed::normal();
    bool keyFrames() const { return !speed.playsEveryFrame(); }
    bool soundOn() const { return speed.soundOn(); }
    bool scanStepDue = false;          // take the next step before reading on
    bool scanUnitSeen = false;         // the step's NAV packet has come
    bool scanUnitRead = false;         // ... and all of its unit: show it, then wait
    timing::Clock::time_point nextStepAt;

    void dateFrom(std::int64_t sector, std::int64_t ticks)
    {
        anchorSector = sector;
        anchorTicks = ticks;
    }
    // At every HOP_CHANNEL: unless it is our move past a hole, the navigator
    // may be in another program chain; unread sectors are dated from its start.
    void hopped()
    {
        if (!skipping) {
            dateFrom(0, 0);
            failedSector = -1;
        }
        skipping = false;
    }

    std::int64_t toTimeline(std::int64_t pts) const { return pts < 0 ? -1 : pts + offset; }
    std::int64_t titleTimeOf(std::int64_t timeline) const
    {
        if (!unit || timeline < 0)
            return -1;
        return unit->titleTime90k + (timeline - unit->timelineStart);
    }
};

} // namespace velmora::core
