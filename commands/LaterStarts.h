#pragma once
// One player per user, as the program's start sees it.
//
// handOverToRunningPlayer() runs in main() after the command line is read and
// before the application object exists. When a player of this user runs
// already, it gets this start's PATH (or, without one, is only brought to the
// front) and the answer is the status to end with: 0 once it took the
// request, 1 when it did not answer (a message says so on stderr). Otherwise
// the answer is nothing and this process is the player; when no single
// instance is possible here (no private runtime folder, say) that is logged
// and the player runs on its own.
//
// serveLaterStarts() runs once the windows exist: each later start's PATH
// plays through openAndPlay and the player comes to the front.

#include <optional>

namespace velmora {

std::optional<int> handOverToRunningPlayer();
void serveLaterStarts();

} // namespace velmora
