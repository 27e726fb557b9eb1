#pragma once
// The sound pipeline's log category: "velmora.audio".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcAudio)
