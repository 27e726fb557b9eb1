#include "engine/audio/AudioLog.h"

// Debug messages (device details, underruns) only when asked for with
// QT_LOGGING_RULES="velmora.audio.debug=true".
Q_LOGGING_CATEGORY(lcAudio, "velmora.audio", QtInfoMsg)
