// Opening a demanding disc against opening a simple one: from setting the
// source to the first picture of the disc's first-play program (the first
// time notification), each disc opened afresh by a new engine, rounds
// interleaved, medians. Disc T (27 titles, 99 chapters, five menus) may cost
// at most 1.5 times disc A.
//
//   bench_disc_open [DISC_DIR_A] [DISC_DIR_T] [ROUNDS]
#include "engine/EngineError.h"
#include "engine/core/PlaybackEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace velmora;

namespace {

// Milliseconds from setDVDDirectory to the first picture; -1 on failure.
double openToFirstPicture(const QString &disc)
{
    QWidget host;
    host.resize(611, 412);
    auto *engine = createPlaybackEngine(&host);
    engine->Move(0, 0, 611, 412);
    QEventLoop loop;
    bool shown = false;
    QObject::connect(engine, &DvdEngine::DVDNotify, &loop, [&](int code, qint64, qint64) {
        if (code == DvdEngine::CurrentTime && !shown) {
            shown = true;
            loop.quit();
        }
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    try {
        engine->setDVDDirectory(disc);
        engine->Render(0);
        engine->Play();
    } catch (const EngineError &e) {
        std::fprintf(stderr, "bench_disc_open: %s: %s\n", qPrintable(disc), qPrintable(e.message()));
        return -1;
    }
    loop.exec();
    const double ms = timer.nsecsElapsed() / 1e6;
    try {
        engine->Stop();
    } catch (const EngineError &) {
    }
    delete engine;
    return shown ? ms : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString discA = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(VELMORA_DISC_DIR "/A");
    const QString discT = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(VELMORA_DISC_DIR "/T");
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;

    openToFirstPicture(discA); // warms the file cache and the libraries for both sides
    openToFirstPicture(discT);
    std::vector<double> a, t;
    for (int i = 0; i < rounds; ++i) {
        a.push_back(openToFirstPicture(discA));
        t.push_back(openToFirstPicture(discT));
        if (a.back() < 0 || t.back() < 0)
            return 1;
    }
    const double ma = median(a), mt = median(t);
    const QJsonObject out{{"measure", "disc_open_to_first_picture"}, {"disc_t_ms", mt}, {"disc_a_ms", ma},
                          {"ratio", mt / ma}, {"target", "<= 1.5"}, {"met", mt <= 1.5 * ma}, {"rounds", rounds}};
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}
