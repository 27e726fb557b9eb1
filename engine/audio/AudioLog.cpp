#include "engine/audio/AudioLog.h"

Q_LOGGING_CATEGORY(lcAudio, "velmora.audio")
