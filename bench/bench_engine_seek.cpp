// Seek, chapter-skip and start-up latency of the playback pipeline on disc A,
// paced on the clock as in the player, to the first picture of the target on
// the output. Prints one JSON object per measure with its budget and the
// ratio to it (below 1 is within budget).
//
//   bench_engine_seek [DISC_DIR]      (default: the authored disc A)
#include "engine/EngineError.h"
#include "engine/core/PlaybackPipeline.h"
#include "engine/nav/DvdNavigator.h"
#include "engine/video/VideoOutput.h"

#include <dvdnav/dvdnav.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

// Notes when the first picture at or after a wanted title time arrives.
class WatchingOutput : public video::ImageOutput
{
public:
    // Scaled as the player's window scales it (the size the CPU budget is measured at).
    QSize pictureSize(const QSize &display) override { return video::letterbox(display, QSize(611, 412)).size(); }
    void present(const video::VideoPicture &p) override
    {
        std::lock_guard lock(m_mutex);
        if (m_armed && p.title == m_title && p.titleTime90k >= m_from) {
            m_armed = false;
            m_at = Clock::now();
            m_landed90k = p.titleTime90k;
            m_done.notify_all();
        }
    }
    void clear() override {}
    void showMessage(const QString &) override {}

    void arm(int title, std::int64_t from90k)
    {
        std::lock_guard lock(m_mutex);
        m_armed = true;
        m_title = title;
        m_from = from90k;
    }
    // Waits for the armed picture; returns when it came and where it landed.
    bool wait(Clock::time_point *at, std::int64_t *landed)
    {
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, std::chrono::seconds(5), [&] { return !m_armed; }))
            return false;
        *at = m_at;
        *landed = m_landed90k;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_armed = false;
    int m_title = 0;
    std::int64_t m_from = 0;
    Clock::time_point m_at;
    std::int64_t m_landed90k = 0;
};

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

QJsonObject summary(const char *name, std::vector<double> v, double budgetMedian, double budgetP95, double worstOffMs)
{
    std::sort(v.begin(), v.end());
    const double median = v.empty() ? 0 : v[v.size() / 2];
    const double p95 = v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * 95 / 100)];
    QJsonObject o{{"measure", name}, {"runs", int(v.size())}, {"median_ms", median}, {"p95_ms", p95},
                  {"median_budget_ms", budgetMedian}, {"median_ratio", budgetMedian > 0 ? median / budgetMedian : 0}};
    if (budgetP95 > 0) {
        o.insert("p95_budget_ms", budgetP95);
        o.insert("p95_ratio", p95 / budgetP95);
    }
    if (worstOffMs >= 0)
        o.insert("worst_landing_off_ms", worstOffMs);
    return o;
}

void print(const QJsonObject &o)
{
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString disc = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VELMORA_DISC_DIR "/A");
    nav::OpenError error;

    // Start to first picture: open, start, first picture of title 1 on the output.
    std::vector<double> starts;
    for (int i = 0; i < 10; ++i) {
        const auto t0 = Clock::now();
        auto navigator = nav::DvdNavigator::open(disc, &error);
        if (!navigator) {
            std::fprintf(stderr, "bench_engine_seek: %s\n", qPrintable(error.message));
            return 1;
        }
        WatchingOutput out;
        out.arm(1, 0);
        core::PlaybackPipeline pipeline(*navigator, &out, nullptr, {}, {});
        pipeline.playTitle(1);
        pipeline.start();
        Clock::time_point at;
        std::int64_t landed = 0;
        if (out.wait(&at, &landed))
            starts.push_back(ms(at - t0));
    }
    print(summary("start_to_first_picture", starts, 200, 0, -1));

    auto navigator = nav::DvdNavigator::open(disc, &error);
    if (!navigator)
        return 1;
    const nav::TitleInfo *title = navigator->info().title(1);
    WatchingOutput out;
    core::PlaybackPipeline pipeline(*navigator, &out, nullptr, {}, {});
    pipeline.playTitle(1);
    pipeline.start();
    QRandomGenerator rng(42);
    const int fps = title->video.framesPerSecond;
    const std::int64_t frameTicks = 90000 / fps;
    const std::int64_t lastFrame = title->duration90k / frameTicks - 1;

    std::vector<double> seeks;
    double worstOff = 0;
    for (int i = 0; i < 50; ++i) {
        const std::int64_t target = std::int64_t(rng.bounded(quint32(lastFrame))) * frameTicks;
        out.arm(1, target);
        const auto t0 = Clock::now();
        try {
            pipeline.playAtTime(target);
        } catch (const EngineError &e) {
            std::fprintf(stderr, "seek to %lld: %s\n", static_cast<long long>(target), qPrintable(e.message()));
            continue;
        }
        Clock::time_point at;
        std::int64_t landed = 0;
        if (out.wait(&at, &landed)) {
            seeks.push_back(ms(at - t0));
            worstOff = std::max(worstOff, (landed - target) / 90.0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    print(summary("play_at_time", seeks, 100, 150, worstOff));

    std::vector<double> skips;
    double worstSkipOff = 0;
    for (int i = 0; i < 20; ++i) {
        const int chapter = 1 + i % 3; // skip from 1, 2, 3
        const std::int64_t start = title->chapterStarts90k[chapter];
        Clock::time_point t0;
        try {
            out.arm(1, title->chapterStarts90k[chapter - 1]);
            pipeline.playChapter(1, chapter);
            Clock::time_point at;
            std::int64_t landed = 0;
            out.wait(&at, &landed);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            out.arm(1, 0);
            t0 = Clock::now();
            pipeline.nextChapter();
        } catch (const EngineError &e) {
            std::fprintf(stderr, "skip from chapter %d: %s\n", chapter, qPrintable(e.message()));
            continue;
        }
        Clock::time_point at;
        std::int64_t landed = 0;
        if (out.wait(&at, &landed)) {
            skips.push_back(ms(at - t0));
            worstSkipOff = std::max(worstSkipOff, std::abs(landed - start) / 90.0);
        }
    }
    print(summary("next_chapter", skips, 100, 0, worstSkipOff));

    // The disc's root menu from inside title 1 (on disc A the looping chapter
    // menu) to its first picture, then back into the title.
    std::vector<double> menus;
    for (int i = 0; i < 20; ++i) {
        Clock::time_point at;
        std::int64_t landed = 0;
        try {
            out.arm(1, 0);
            pipeline.playChapter(1, 1 + i % 4);
            if (!out.wait(&at, &landed))
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            out.arm(0, 0);
            const auto t0 = Clock::now();
            pipeline.menuCall(DVD_MENU_Root);
            if (out.wait(&at, &landed))
                menus.push_back(ms(at - t0));
        } catch (const EngineError &e) {
            std::fprintf(stderr, "root menu: %s\n", qPrintable(e.message()));
        }
    }
    print(summary("show_menu", menus, 150, 0, -1));
    pipeline.stop();
    return 0;
}
