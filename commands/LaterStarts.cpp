#include "LaterStarts.h"

#include "Commands.h"
#include "OpenAndPlay.h"
#include "services/SingleInstance.h"

#include <QtDebug>

#include <cstdio>
#include <memory>

namespace velmora {

namespace {

// Lives as long as the process: its socket is the player's.
std::unique_ptr<SingleInstance> &instance()
{
    static std::unique_ptr<SingleInstance> one;
    return one;
}

} // namespace

std::optional<int> handOverToRunningPlayer()
{
    instance() = std::make_unique<SingleInstance>();
    switch (instance()->claim(SingleInstance::Request{commandLinePath()})) {
    case SingleInstance::Outcome::Primary:
        return std::nullopt;
    case SingleInstance::Outcome::HandedOff:
        return 0;
    case SingleInstance::Outcome::Alone:
        std::fprintf(stderr, "velmora: running on its own: %s\n", qPrintable(instance()->error()));
        instance().reset();
        return std::nullopt;
    case SingleInstance::Outcome::Failed:
        break;
    }
    std::fprintf(stderr, "velmora: %s\n", qPrintable(instance()->error()));
    return 1;
}

void serveLaterStarts()
{
    if (!instance())
        return;
    instance()->serve([](const SingleInstance::Request &request) {
        if (request.path) {
            qInfo("velmora: a later start hands over %s", qPrintable(*request.path));
            openAndPlay(*request.path);
        } else {
            qInfo("velmora: a later start asks for the player");
        }
        bringPlayerToFront();
    });
}

} // namespace velmora
