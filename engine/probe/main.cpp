// velmora-probe: the engine from the command line. Standard output carries
// only the JSON documented in usage() (on failure {"error": "why"}, and the
// exit status is not 0); everything else goes to standard error.
#include "engine/EngineError.h"
#include "engine/TimeCode.h"
#include "engine/audio/AudioPlayer.h"
#include "engine/audio/WavFileOutput.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/demux/PsDemuxer.h"
#include "engine/nav/CssCheck.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/PngFrameSink.h"
#include "engine/video/VideoDecoder.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <dvdnav/dvdnav.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

using namespace velmora;

namespace {

QString timeText(std::int64_t ticks, int fps)
{
    return TimeCode::fromTicks90k(ticks, fps).toText();
}

void printJson(const QJsonObject &object)
{
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Says why on standard error and as {"error": ...} on standard output.
int failWith(const QString &message)
{
    std::fprintf(stderr, "velmora-probe: %s\n", message.toLocal8Bit().constData());
    printJson(QJsonObject{{"error", message}});
    return 1;
}

// Titles that cannot be played as they are read: scrambled by copy
// protection, or refused by a drive that wants the disc authenticated.
std::optional<QString> titleAccessProblem(const QString &path)
{
    switch (nav::checkFirstTitle(path)) {
    case nav::TitleAccess::Scrambled:
        return nav::encryptedDiscMessage();
    case nav::TitleAccess::Unreadable:
        if (!nav::cssLibraryLoaded())
            return nav::encryptedDiscMessage();
        return QStringLiteral("The first title of the disc cannot be read");
    case nav::TitleAccess::Clear:
    case nav::TitleAccess::Unknown:
        break;
    }
    return std::nullopt;
}

int runInfo(const QString &path)
{
    nav::OpenError error;
    auto navigator = nav::DvdNavigator::open(path, &error);
    if (!navigator)
        return failWith(error.message);
    if (const auto problem = titleAccessProblem(navigator->path()))
        return failWith(*problem);
    const nav::DiscInfo &info = navigator->info();
    QJsonArray titles;
    for (const nav::TitleInfo &t : info.titles) {
        const int fps = t.video.framesPerSecond;
        QJsonObject title{{"number", t.number}, {"duration", timeText(t.duration90k, fps)}, {"titleSet", t.titleSet}};
        QJsonArray chapters;
        for (int c = 0; c < t.chapterStarts90k.size(); ++c)
            chapters.append(QJsonObject{{"number", c + 1}, {"start", timeText(t.chapterStarts90k[c], fps)}});
        title.insert("chapters", chapters);
        QJsonArray audio;
        for (const nav::AudioStreamInfo &a : t.audio)
            audio.append(QJsonObject{{"number", a.number}, {"language", a.language}, {"format", a.format}, {"channels", a.channels}});
        title.insert("audio", audio);
        QJsonArray subs;
        for (const nav::SubpictureStreamInfo &s : t.subpictures)
            subs.append(QJsonObject{{"number", s.number}, {"language", s.language}});
        title.insert("subpictures", subs);
        title.insert("video", QJsonObject{{"standard", t.video.standard}, {"width", t.video.width}, {"height", t.video.height},
                                          {"aspect", t.video.wide ? "16:9" : "4:3"}});
        titles.append(title);
    }
    printJson(QJsonObject{{"volume", info.volume}, {"titles", titles}});
    return 0;
}

struct PlayArgs
{
    int title = 0;
    int chapter = 0;
    QString at;
    int audio = -1;
    double seconds = 0;
    QString wav;
    QString frames;
    int everyMs = 0;
    bool fast = false;
};

std::optional<PlayArgs> parsePlayArgs(const QStringList &args, QString *error)
{
    PlayArgs p;
    for (int i = 3; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return {};
            }
            return args[++i];
        };
        bool ok = true;
        if (a == QLatin1String("--fast"))
            p.fast = true;
        else if (a == QLatin1String("--title"))
            p.title = value().toInt(&ok);
        else if (a == QLatin1String("--chapter"))
            p.chapter = value().toInt(&ok);
        else if (a == QLatin1String("--at"))
            p.at = value();
        else if (a == QLatin1String("--audio"))
            p.audio = value().toInt(&ok);
        else if (a == QLatin1String("--seconds"))
            p.seconds = value().toDouble(&ok);
        else if (a == QLatin1String("--wav"))
            p.wav = value();
        else if (a == QLatin1String("--frames"))
            p.frames = value();
        else if (a == QLatin1String("--every"))
            p.everyMs = value().toInt(&ok);
        else {
            *error = QStringLiteral("unknown option %1").arg(a);
            return std::nullopt;
        }
        if (!error->isEmpty())
            return std::nullopt;
        if (!ok) {
            *error = QStringLiteral("bad value for %1").arg(a);
            return std::nullopt;
        }
    }
    if (p.chapter > 0 && p.title <= 0)
        p.title = 1;
    if (!p.at.isEmpty() && p.title <= 0)
        p.title = 1;
    return p;
}

int runPlay(const QString &path, const PlayArgs &args)
{
    nav::OpenError openError;
    auto navigator = nav::DvdNavigator::open(path, &openError);
    if (!navigator)
        return failWith(openError.message);
    if (const auto problem = titleAccessProblem(navigator->path()))
        return failWith(*problem);

    std::unique_ptr<AudioPlayer> audio;
    if (!args.wav.isEmpty()) {
        auto output = std::make_unique<WavFileOutput>(
            args.wav, args.fast ? WavFileOutput::Pacing::None : WavFileOutput::Pacing::RealTime);
        // As many seconds of sound as of pictures.
        if (args.seconds > 0)
            output->setFrameLimit(std::int64_t(args.seconds * OutputRate));
        audio = std::make_unique<AudioPlayer>(std::move(output));
        try {
            audio->start();
        } catch (const EngineError &e) {
            return failWith(e.message());
        }
    }
    video::PngFrameSink frames(args.frames, args.everyMs);
    frames.setTitleFilter(args.title);

    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    QString failure;
    bool sawTitle = false;
    std::int64_t firstTimeline = -1;

    core::PlaybackPipeline::Options options;
    options.paced = !args.fast;
    options.endOnInfiniteStill = args.fast;
    const int wantedTitle = args.title;
    core::PlaybackPipeline pipeline(*navigator, &frames, audio.get(), options, [&](const core::PipelineEvent &e) {
        std::lock_guard lock(mutex);
        using Kind = core::PipelineEvent::Kind;
        switch (e.kind) {
        case Kind::Time:
            if (!finished)
                printJson(QJsonObject{{"event", 282},
                                      {"time", TimeCode::fromTicks90k(e.titleTime90k, e.framesPerSecond).toText()}});
            break;
        case Kind::TitleChange:
            if (wantedTitle > 0 && sawTitle && e.title != wantedTitle)
                finished = true;
            if (e.title == wantedTitle)
                sawTitle = true;
            break;
        case Kind::Ended:
            finished = true;
            break;
        case Kind::Error:
            failure = e.message;
            finished = true;
            break;
        case Kind::Note:
            std::fprintf(stderr, "velmora-probe: note: %s\n", e.message.toLocal8Bit().constData());
            break;
        default:
            break;
        }
        changed.notify_all();
    });

    try {
        if (args.audio >= 0)
            pipeline.selectAudioStream(args.audio);
        if (args.title > 0) {
            if (args.chapter > 0)
                pipeline.playChapter(args.title, args.chapter);
            else
                pipeline.playTitle(args.title);
        }
        if (!args.at.isEmpty()) {
            const auto tc = TimeCode::fromText(args.at);
            const nav::TitleInfo *info = navigator->info().title(args.title);
            if (!tc || !info)
                return failWith(QStringLiteral("bad time %1").arg(args.at));
            pipeline.playAtTime(tc->toTicks90k(info->video.framesPerSecond));
        }
        pipeline.start();
    } catch (const EngineError &e) {
        return failWith(e.message());
    }

    const auto started = std::chrono::steady_clock::now();
    {
        std::unique_lock lock(mutex);
        for (;;) {
            if (finished)
                break;
            changed.wait_for(lock, std::chrono::milliseconds(10));
            if (pipeline.navigatorBusyMs() > 5000) {
                failure = QStringLiteral("the disc does not answer (its program loops inside the navigator)");
                break;
            }
            if (args.seconds > 0) {
                const core::ShownPosition pos = pipeline.shown();
                if (pos.valid && firstTimeline < 0)
                    firstTimeline = pos.timeline90k;
                const bool byTimeline = pos.valid && pos.timeline90k - firstTimeline >= std::int64_t(args.seconds * 90000);
                const bool byClock = !args.fast
                                     && std::chrono::steady_clock::now() - started
                                            > std::chrono::milliseconds(std::int64_t(args.seconds * 1000) + 500);
                if (byTimeline || byClock)
                    break;
            }
        }
    }
    pipeline.stop();
    if (pipeline.abandoned()) {
        // A thread is still inside libdvdnav with our objects: leave at once.
        failWith(failure);
        std::fflush(stdout);
        std::_Exit(1);
    }
    if (audio) {
        audio->stop();
        audio.reset();
    }
    if (!failure.isEmpty())
        return failWith(failure);
    if (frames.failures() > 0)
        return failWith(QStringLiteral("could not write %1 frame files").arg(frames.failures()));
    return 0;
}

int runBench(const QString &path, int title)
{
    nav::OpenError openError;
    auto navigator = nav::DvdNavigator::open(path, &openError);
    if (!navigator)
        return failWith(openError.message);
    if (!navigator->info().title(title))
        return failWith(QStringLiteral("no title %1").arg(title));
    dvdnav_t *nav = navigator->handle();
    if (dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK)
        return failWith(navigator->lastError());

    std::optional<video::VideoDecoder> decoder;
    try {
        decoder.emplace(video::VideoDecoder::Options{1, false});
    } catch (const EngineError &e) {
        return failWith(e.message());
    }
    const demux::PsDemuxer demuxer;
    std::vector<std::uint8_t> block(DVD_VIDEO_LB_LEN);
    int frames = 0;
    const auto countFrame = [&](const AVFrame *) { ++frames; };
    const auto started = std::chrono::steady_clock::now();
    bool done = false;
    int events = 0;
    while (!done) {
        int event = 0;
        int length = 0;
        if (dvdnav_get_next_block(nav, block.data(), &event, &length) != DVDNAV_STATUS_OK)
            return failWith(navigator->lastError());
        if (++events > 10'000'000)
            break;
        switch (event) {
        case DVDNAV_BLOCK_OK:
            demuxer.demux(block.data(), block.size(), [&](const demux::EsPacket &pkt) {
                if (pkt.type == demux::StreamType::Video)
                    decoder->decode(pkt.data, pkt.size, pkt.pts, pkt.dts, countFrame);
            });
            break;
        case DVDNAV_CELL_CHANGE: {
            int32_t t = 0;
            int32_t c = 0;
            if (!dvdnav_is_domain_vts(nav) || dvdnav_current_title_info(nav, &t, &c) != DVDNAV_STATUS_OK || t != title)
                done = true;
            break;
        }
        case DVDNAV_STILL_FRAME:
            dvdnav_still_skip(nav);
            break;
        case DVDNAV_WAIT:
            dvdnav_wait_skip(nav);
            break;
        case DVDNAV_STOP:
            done = true;
            break;
        default:
            break;
        }
    }
    decoder->drain(countFrame);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printJson(QJsonObject{{"frames", frames}, {"seconds", seconds}, {"fps", seconds > 0 ? frames / seconds : 0.0}});
    return 0;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: velmora-probe info PATH\n"
                 "       velmora-probe play PATH [--title N] [--chapter C] [--at hh:mm:ss:ff] [--audio N]\n"
                 "                               [--seconds S] [--wav OUT.wav] [--frames DIR --every MS] [--fast]\n"
                 "       velmora-probe bench PATH --title N\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        usage();
        return 2;
    }
    const QString command = args[1];
    const QString path = args[2];
    if (command == QLatin1String("info"))
        return runInfo(path);
    if (command == QLatin1String("play")) {
        QString error;
        const auto playArgs = parsePlayArgs(args, &error);
        if (!playArgs)
            return failWith(error);
        return runPlay(path, *playArgs);
    }
    if (command == QLatin1String("bench")) {
        int title = 1;
        if (args.size() >= 5 && args[3] == QLatin1String("--title"))
            title = args[4].toInt();
        return runBench(path, title);
    }
    usage();
    return 2;
}
