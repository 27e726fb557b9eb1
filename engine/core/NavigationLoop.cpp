// The navigation thread: reads the disc block by block through libdvdnav,
// runs the commands posted to it between blocks, handles every event,
// demultiplexes the data and feeds the video queue and the sound player.
#include "PlaybackPipeline.h"

#include "engine/EngineError.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/core/NavigationState.h"
#include "engine/nav/CssCheck.h"
#include "engine/spu/ButtonHighlight.h"
#include "engine/spu/SubpictureTimeline.h"

#include <QLoggingCategory>

#include <dvdnav/dvdnav.h>
#include <dvdread/nav_types.h>

#include <algorithm>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcPipeline)

namespace velmora::core {

using namespace timing;

bool PlaybackPipeline::pushVideo(VideoItem &&item, int serial, std::size_t cost)
{
    item.serial = serial;
    for (;;) {
        if (m_videoQueue->push(item, serial, cost, item.kind == VideoItem::Kind::Unit, 50ms))
            return true;
        std::unique_lock lock(m_stateMutex);
        if (m_stopRequested || m_serial.current() != serial)
            return false;
        // Same serial: the queue was full (paused, perhaps); the item is
        // intact, try again, doing what the user asked meanwhile.
        runPendingLocked(lock);
    }
}

void PlaybackPipeline::drainAudio(int serial, std::chrono::milliseconds timeout)
{
    if (!m_audio)
        return;
    // In short steps, so a stop or a jump is never kept waiting.
    for (auto left = timeout; left > 0ms; left -= 20ms) {
        {
            std::unique_lock lock(m_stateMutex);
            if (m_stopRequested || m_serial.current() != serial)
                return;
            runPendingLocked(lock);
        }
        if (m_audio->drain(20ms))
            return;
    }
}

bool PlaybackPipeline::runPendingLocked(std::unique_lock<std::mutex> &lock)
{
    if (m_commands.empty())
        return false;
    // Taken while the serial holds, so none of them came with a flush.
    std::deque<CommandQueue::Command> commands = m_commands.takeAll();
    lock.unlock();
    runCommands(std::move(commands));
    lock.lock();
    return true;
}

void PlaybackPipeline::runCommands(std::deque<CommandQueue::Command> commands)
{
    if (!commands.empty())
        m_pendingSeek.reset(); // the user has moved on
    for (CommandQueue::Command &command : commands) {
        try {
            command();
        } catch (const EngineError &e) {
            report(PipelineEvent{PipelineEvent::Kind::Refused, 0, 0, 0, 25, e.code(), e.message()});
        } catch (const std::exception &e) {
            report(PipelineEvent{PipelineEvent::Kind::Refused, 0, 0, 0, 25, ErrorCode::Unexpected,
                                 QString::fromLocal8Bit(e.what())});
        }
    }
}

bool PlaybackPipeline::waitForCommand(int serial, int timeoutMs)
{
    std::unique_lock lock(m_stateMutex);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    for (;;) {
        if (m_stopRequested || m_serial.current() != serial)
            return true;
        if (runPendingLocked(lock))
            continue;
        if (timeoutMs < 0) {
            m_command.wait(lock);
        } else if (m_command.wait_until(lock, deadline) == std::cv_status::timeout) {
            return m_stopRequested || m_serial.current() != serial;
        }
    }
}

bool PlaybackPipeline::holdStill(int serial, int ms)
{
    // Only time spent playing counts: a pause in a timed still lengthens it.
    Clock::duration left = std::chrono::milliseconds(std::max(0, ms));
    std::unique_lock lock(m_stateMutex);
    auto last = Clock::now();
    for (;;) {
        if (m_stopRequested || m_serial.current() != serial)
            return true;
        if (runPendingLocked(lock))
            continue;
        const auto now = Clock::now();
        if (!m_paused.load())
            left -= now - last;
        last = now;
        if (left <= Clock::duration::zero())
            return false;
        const Clock::duration step = m_paused.load() ? Clock::duration(20ms) : std::min<Clock::duration>(left, 20ms);
        m_command.wait_for(lock, step);
    }
}

bool PlaybackPipeline::drainVideo(int serial)
{
    int id = 0;
    {
        std::lock_guard lock(m_stateMutex);
        id = ++m_drainRequested;
    }
    VideoItem item;
    item.kind = VideoItem::Kind::Drain;
    item.id = id;
    if (!pushVideo(std::move(item), serial, 0))
        return false;
    std::unique_lock lock(m_stateMutex);
    const auto deadline = Clock::now() + DrainTimeout;
    for (;;) {
        if (m_stopRequested || m_serial.current() != serial)
            return false;
        if (m_drainDone >= id)
            return true;
        if (runPendingLocked(lock))
            continue;
        if (m_command.wait_until(lock, deadline) == std::cv_status::timeout)
            return m_drainDone >= id && !m_stopRequested && m_serial.current() == serial;
    }
}

void PlaybackPipeline::navLoop()
{
    NavState s;
    std::vector<std::uint8_t> block(DVD_VIDEO_LB_LEN);
    const demux::PsDemuxer demuxer;
    dvdnav_t *nav = m_navigator.handle();

    for (;;) {
        int event = 0;
        int length = 0;
        int serial = 0;
        bool newSerial = false;
        dvdnav_status_t status = DVDNAV_STATUS_OK;
        // Filled under the lock for the events that need the navigator's state.
        std::shared_ptr<NavUnit> freshUnit;
        bool ownJump = false;
        std::uint32_t clut[16] = {};
        bool audioChanged = false;
        int wantedPhysical = -1;
        int wantedFormat = -1;
        if (s.scanUnitRead) {
            // A key-frame scan has read its step's unit: show it, then wait for the next step.
            s.scanUnitRead = false;
            drainVideo(s.serial);
            std::unique_lock lock(m_stateMutex);
            while (!m_stopRequested && m_serial.current() == s.serial && (m_paused.load() || Clock::now() < s.nextStepAt)) {
                if (!runPendingLocked(lock))
                    m_command.wait_for(lock, 20ms);
            }
            s.scanStepDue = true;
        }
        {
            // The serial and the commands posted with it, taken together:
            // the commands run before anything is read under the serial.
            std::deque<CommandQueue::Command> commands;
            const auto takeSerial = [&] {
                std::lock_guard lock(m_stateMutex);
                if (m_stopRequested)
                    return false;
                serial = m_serial.current();
                commands = m_commands.takeAll();
                if (serial != s.serial) {
                    newSerial = true;
                    s.seekTarget = m_seekTarget;
                    s.speed = m_speed;
                    s.scanStepDue = s.keyFrames();
                    s.scanUnitSeen = false;
                    s.scanUnitRead = false;
                }
                return true;
            };
            if (!takeSerial())
                return;
            const bool ranCommands = !commands.empty();
            runCommands(std::move(commands));
            if (s.keyFrames() && s.scanStepDue) {
                s.scanStepDue = false;
                scanStep(s);
                if (!takeSerial())
                    return;
                runCommands(std::move(commands));
                s.scanStepDue = false;
            }
            if (ranCommands || newSerial)
                publishPosition(serial);
            m_navCallSince = steadyMs();
            status = dvdnav_get_next_block(nav, block.data(), &event, &length);
            m_navCallSince = 0;
            if (status == DVDNAV_STATUS_OK && event == DVDNAV_STILL_FRAME && m_staleStill && (!s.unit || newSerial)) {
                // The still of the place we jumped away from (no unit of
                // the new place has come yet): not the new place's.
                dvdnav_still_skip(nav);
                event = DVDNAV_NOP;
            }
            if (event == DVDNAV_NAV_PACKET)
                m_staleStill = false;
            if (status == DVDNAV_STATUS_OK) {
                switch (event) {
                case DVDNAV_NAV_PACKET: {
                    auto unit = std::make_shared<NavUnit>();
                    if (pci_t *pci = dvdnav_get_current_nav_pci(nav))
                        unit->pci = *pci;
                    unit->titleTime90k = std::max<std::int64_t>(0, dvdnav_get_current_time(nav));
                    std::uint32_t sector = 0;
                    std::uint32_t sectors = 0;
                    if (dvdnav_get_position(nav, &sector, &sectors) == DVDNAV_STATUS_OK)
                        s.dateFrom(sector, unit->titleTime90k);
                    int32_t t = 0;
                    int32_t c = 0;
                    if (dvdnav_is_domain_vts(nav) && dvdnav_current_title_info(nav, &t, &c) == DVDNAV_STATUS_OK) {
                        unit->title = t;
                        unit->chapter = c;
                    }
                    unit->domain = dvdnav_is_domain_vts(nav) ? DVD_DOMAIN_VTSTitle : DVD_DOMAIN_VMGM;
                    if (buttonCount(unit->pci) > 0) {
                        // An invalid current button is repaired to the first valid one.
                        int32_t current = 0;
                        if (dvdnav_get_current_highlight(nav, &current) != DVDNAV_STATUS_OK)
                            current = 0;
                        const int repaired = repairButton(unit->pci, current);
                        if (repaired != current && repaired > 0
                            && dvdnav_button_select(nav, &unit->pci, repaired) == DVDNAV_STATUS_OK)
                            current = repaired;
                        m_highlightButton = current;
                        m_drawnButton = current;
                    }
                    freshUnit = unit;
                    if (m_pendingSeek)
                        runPendingSeek(unit->title);
                    break;
                }
                case DVDNAV_HOP_CHANNEL: {
                    std::lock_guard lock(m_stateMutex);
                    ownJump = m_ownJump;
                    m_ownJump = false;
                    break;
                }
                case DVDNAV_VTS_CHANGE: {
                    s.titleSet = reinterpret_cast<const dvdnav_vts_change_event_t *>(block.data())->new_vtsN;
                    if (s.titleSet > 0)
                        m_lastTitleSet = s.titleSet;
                    // 0 is 4:3 and 3 is 16:9, whatever the header says.
                    s.wide = dvdnav_get_video_aspect(nav) == 3;
                    uint32_t w = 0;
                    uint32_t h = 0;
                    if (dvdnav_get_video_resolution(nav, &w, &h) == DVDNAV_STATUS_OK && h > 0) {
                        s.codedHeight = int(h);
                        s.framesPerSecond = h == 576 || h == 288 ? 25 : 30;
                    }
                    [[fallthrough]];
                }
                case DVDNAV_CELL_CHANGE:
                case DVDNAV_AUDIO_STREAM_CHANGE: {
                    if (event == DVDNAV_AUDIO_STREAM_CHANGE) {
                        const int told = reinterpret_cast<const dvdnav_audio_stream_change_event_t *>(block.data())->logical;
                        s.navigatorAudio = told >= 0 && told < 8 ? told : -1;
                    }
                    const int choice = m_audioChoice.load();
                    int logical = choice >= 0 ? choice : s.navigatorAudio;
                    // Despite its name and header this maps logical to physical.
                    int physical = logical >= 0 ? dvdnav_get_audio_logical_stream(nav, std::uint8_t(logical)) : -1;
                    if (physical < 0 && choice < 0) {
                        // The register not known (yet): the first stream
                        // with the navigator's active physical number.
                        const int active = dvdnav_get_active_audio_stream(nav);
                        for (int l = 0; l < 8 && active >= 0 && physical < 0; ++l) {
                            if (dvdnav_get_audio_logical_stream(nav, std::uint8_t(l)) == active) {
                                physical = active;
                                logical = l;
                            }
                        }
                    }
                    if (physical < 0) {
                        for (int l = 0; l < 8 && physical < 0; ++l) {
                            physical = dvdnav_get_audio_logical_stream(nav, std::uint8_t(l));
                            if (physical >= 0)
                                logical = l;
                        }
                    }
                    if (physical >= 0) {
                        wantedPhysical = physical & 7;
                        wantedFormat = dvdnav_audio_stream_format(nav, std::uint8_t(logical));
                    }
                    audioChanged = true;
                    break;
                }
                case DVDNAV_SPU_CLUT_CHANGE:
                    std::copy_n(reinterpret_cast<const std::uint32_t *>(block.data()), 16, clut);
                    break;
                default:
                    break;
                }
                if (event == DVDNAV_VTS_CHANGE || event == DVDNAV_CELL_CHANGE || event == DVDNAV_AUDIO_STREAM_CHANGE
                    || event == DVDNAV_SPU_STREAM_CHANGE) {
                    // The program chain (or its stream choice) may have changed.
                    StreamSummary summary = StreamSummary::read(nav);
                    if (summary != *s.streams)
                        s.streams = std::make_shared<const StreamSummary>(std::move(summary));
                    const ActiveSubpicture active = activeSubpicture(dvdnav_get_active_spu_stream(nav));
                    // A menu's buttons live in its one subpicture stream.
                    s.navigatorSubpicture = active.physical >= 0 ? active.physical
                                            : dvdnav_is_domain_vts(nav) ? -1 : 0;
                }
                if (event == DVDNAV_NAV_PACKET || event == DVDNAV_VTS_CHANGE || event == DVDNAV_CELL_CHANGE)
                    publishPosition(serial);
            }
        }

        if (m_letGo.load())
            return; // came back from the library after stop() gave up on it: touch nothing
        if (newSerial) {
            s.serial = serial;
            s.haveLastEnd = false;
            s.unit.reset();
            s.noDataEvents = 0;
            s.unreadable.reset(); // the user has gone elsewhere
        }
        if (status != DVDNAV_STATUS_OK && m_navigator.lastFailureIsUnreadableSector()) {
            passUnreadable(s, serial); // on to the next unit it can read, or the end
            continue;
        }
        if (status != DVDNAV_STATUS_OK) {
            const QString why = m_navigator.lastError();
            qCWarning(lcPipeline, "navigation failed: %s", qPrintable(why));
            drainVideo(serial);
            m_ended = true;
            report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, ErrorCode::DeviceError,
                                 QStringLiteral("Cannot read the disc: %1").arg(why)});
            waitForCommand(serial, -1);
            continue;
        }

        if (event != DVDNAV_BLOCK_OK && event != DVDNAV_STILL_FRAME && event != DVDNAV_WAIT) {
            if (++s.noDataEvents > NoDataEventLimit) {
                m_ended = true;
                report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, ErrorCode::NotADvd,
                                     QStringLiteral("The disc keeps jumping without playing anything")});
                waitForCommand(serial, -1);
                continue;
            }
        }

        if (audioChanged && m_audio && !s.audioBroken) {
            demux::StreamType type = demux::StreamType::Ac3;
            int streamId = -1;
            switch (wantedFormat) {
            case DVD_AUDIO_FORMAT_AC3: type = demux::StreamType::Ac3; streamId = 0x80 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_MPEG:
            case DVD_AUDIO_FORMAT_MPEG2_EXT: type = demux::StreamType::MpegAudio; streamId = 0xC0 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_LPCM: type = demux::StreamType::Lpcm; streamId = 0xA0 + wantedPhysical; break;
            case DVD_AUDIO_FORMAT_DTS: type = demux::StreamType::Dts; streamId = 0x88 + wantedPhysical; break;
            default: break;
            }
            if (streamId < 0) {
                s.audioPhysical = -1;
            } else if (streamId >= 0 && (wantedPhysical != s.audioPhysical || type != s.audioType)) {
                try {
                    if (auto format = AudioFormat::fromStreamId(streamId))
                        m_audio->setFormat(*format);
                    s.audioPhysical = wantedPhysical;
                    s.audioType = type;
                } catch (const EngineError &e) {
                    // Play the picture without sound rather than nothing at all.
                    s.audioBroken = true;
                    s.audioPhysical = -1;
                    report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, e.code(), e.message()});
                }
            }
        }

        switch (event) {
        case DVDNAV_BLOCK_OK: {
            s.noDataEvents = 0;
            if (const auto skippedAt = s.unreadable.recovered()) {
                s.failedSector = -1;
                report(PipelineEvent{PipelineEvent::Kind::Note, 0, 0, 0, 25, ErrorCode::Unreadable,
                                     skippedNote(*skippedAt), serial});
            }
            const demux::DemuxStats demuxed = demuxer.demux(block.data(), block.size(), [&](const demux::EsPacket &pkt) {
                switch (pkt.type) {
                case demux::StreamType::Video: {
                    VideoItem item;
                    item.kind = VideoItem::Kind::Data;
                    item.bytes.assign(pkt.data, pkt.data + pkt.size);
                    item.pts = s.toTimeline(pkt.pts);
                    item.dts = s.toTimeline(pkt.dts);
                    pushVideo(std::move(item), serial, pkt.size);
                    break;
                }
                case demux::StreamType::Subpicture: {
                    if (!m_overlay || s.keyFrames())
                        break;
                    VideoItem item;
                    item.kind = VideoItem::Kind::Subpicture;
                    item.id = pkt.id;
                    item.bytes.assign(pkt.data, pkt.data + pkt.size);
                    item.pts = s.toTimeline(pkt.pts);
                    pushVideo(std::move(item), serial, pkt.size);
                    break;
                }
                case demux::StreamType::Ac3:
                case demux::StreamType::Dts:
                case demux::StreamType::Lpcm:
                case demux::StreamType::MpegAudio: {
                    if (!m_audio || !s.soundOn() || pkt.type != s.audioType || pkt.id != s.audioPhysical)
                        break;
                    // Sound from before the serial's first picture (or its seek
                    // target) is trimmed by the player: setStartPts below.
                    const std::int64_t timeline = s.toTimeline(pkt.pts);
                    const AudioPacket packet{pkt.data, pkt.size, timeline >= 0 ? timeline : NoPts, serial,
                                             pkt.frameOffset};
                    for (;;) {
                        if (m_audio->submit(packet, 50ms)) {
                            m_audioFedSerial = serial;
                            break;
                        }
                        std::lock_guard lock(m_stateMutex);
                        if (m_stopRequested || m_serial.current() != serial || !m_audio->isRunning()
                            || m_audio->queuedDuration() < 200ms)
                            break; // refused for good, not for want of room
                    }
                    break;
                }
                case demux::StreamType::NavPci:
                case demux::StreamType::NavDsi:
                    break; // the navigator has parsed them (DVDNAV_NAV_PACKET)
                }
            });
            // Copy protection the disc was read without: the demuxer passes
            // no scrambled packet on; a run of them ends playback with a
            // message saying what to install.
            s.scrambledBlocks = demuxed.scrambled > 0 ? s.scrambledBlocks + 1 : 0;
            if (s.scrambledBlocks >= ScrambledBlocksToStop) {
                qCWarning(lcPipeline, "the disc's titles are scrambled (CSS)");
                s.scrambledBlocks = 0;
                drainVideo(serial);
                m_ended = true;
                report(PipelineEvent{PipelineEvent::Kind::Error, 0, 0, 0, 25, ErrorCode::Encrypted,
                                     nav::encryptedDiscMessage()});
                waitForCommand(serial, -1);
            }
            break;
        }
        case DVDNAV_NAV_PACKET: {
            auto unit = freshUnit;
            if (!unit)
                break;
            if (s.unreadable.reached(unit->titleTime90k) == UnreadableRun::Verdict::GiveUp) {
                endUnreadable(s, serial); // the hole behind this unit is too long
                break;
            }
            if (s.keyFrames()) {
                if (s.scanUnitSeen) {
                    s.scanUnitRead = true; // the step's unit is complete
                    break;
                }
                s.scanUnitSeen = true;
            }
            unit->streams = s.streams;
            unit->navigatorSubpicture = s.navigatorSubpicture;
            const std::int64_t startPtm = unit->pci.pci_gi.vobu_s_ptm;
            const std::int64_t endPtm = unit->pci.pci_gi.vobu_e_ptm;
            if (!s.haveLastEnd || startPtm != s.lastEndPtm) {
                // A discontinuity (a jump, a cell with its own clock, a menu
                // looping): the timeline carries on where the last unit ended.
                s.offset = s.timelineEnd - startPtm;
            }
            s.haveLastEnd = true;
            s.lastEndPtm = endPtm;
            s.timelineEnd = endPtm + s.offset;
            unit->timelineStart = startPtm + s.offset;
            unit->timelineEnd = s.timelineEnd;
            unit->framesPerSecond = s.framesPerSecond;
            unit->wide = s.wide;
            unit->codedHeight = s.codedHeight;
            unit->titleSet = s.titleSet;
            if (!s.unit && m_audio) {
                // The serial's first unit: sound is multiplexed up to a second
                // ahead of its pictures, so what arrives with this unit starts
                // before it (and before a seek's target). Heard from the first
                // picture, or from the target when that is later.
                std::int64_t start = unit->timelineStart;
                if (s.seekTarget >= 0)
                    start = std::max(start, unit->timelineStart + (s.seekTarget - unit->titleTime90k));
                m_audio->setStartPts(serial, start);
            }
            s.unit = unit;
            VideoItem item;
            item.kind = VideoItem::Kind::Unit;
            item.unit = unit;
            pushVideo(std::move(item), serial, 0);
            break;
        }
        case DVDNAV_STILL_FRAME: {
            if (s.keyFrames()) {
                // Scanning passes stills by.
                dvdnav_still_skip(nav);
                s.scanUnitRead = true;
                break;
            }
            const auto *still = reinterpret_cast<const dvdnav_still_event_t *>(block.data());
            const int seconds = still->length;
            if (m_audio)
                m_audio->endOfStream(50ms); // the codec parser holds the last frame back
            drainVideo(serial);
            drainAudio(serial, 100ms);
            report(PipelineEvent{PipelineEvent::Kind::Still, 0, 0, 0, 25, seconds, {}});
            bool interrupted = false;
            if (seconds == 0xff) {
                if (m_options.endOnInfiniteStill) {
                    m_ended = true;
                    report(PipelineEvent{PipelineEvent::Kind::Ended, 0, 0, 0, 25, 0, {}});
                }
                interrupted = waitForCommand(serial, -1);
            } else {
                interrupted = holdStill(serial, m_options.paced ? seconds * 1000 : 0);
            }
            if (!interrupted && currentSerial() == serial) {
                dvdnav_still_skip(nav);
            }
            break;
        }
        case DVDNAV_WAIT: {
            if (m_audio)
                m_audio->endOfStream(50ms);
            drainVideo(serial);
            if (currentSerial() == serial)
                dvdnav_wait_skip(nav);
            break;
        }
        case DVDNAV_HOP_CHANNEL:
            s.hopped();
            if (!ownJump) {
                // The disc jumped by itself (end of a title, a menu command):
                // what is queued still belongs on screen; show it first.
                drainVideo(serial);
            }
            s.haveLastEnd = false;
            break;
        case DVDNAV_CELL_CHANGE:
            s.pgcTicks = reinterpret_cast<const dvdnav_cell_change_event_t *>(block.data())->pgc_length;
            break;
        case DVDNAV_SPU_CLUT_CHANGE:
            if (m_overlay) {
                VideoItem item;
                item.kind = VideoItem::Kind::Clut;
                item.bytes.assign(reinterpret_cast<const std::uint8_t *>(clut),
                                  reinterpret_cast<const std::uint8_t *>(clut) + sizeof clut);
                pushVideo(std::move(item), serial, 0);
            }
            break;
        case DVDNAV_STOP:
            if (m_audio)
                m_audio->endOfStream(50ms);
            drainVideo(serial);
            drainAudio(serial, 1000ms);
            m_ended = true;
            report(PipelineEvent{PipelineEvent::Kind::Ended, 0, 0, 0, 25, 0, {}});
            waitForCommand(serial, -1);
            break;
        default:
            break;
        }
    }
}

} // namespace velmora::core
