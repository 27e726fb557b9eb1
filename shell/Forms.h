#pragma once
// The player's two windows, each a single instance created on first reference.
//
// form6() creates the control panel and runs its whole start-up (which
// creates the video window). form4() creates the video window and runs its
// load. unloadForm4() hides and discards the video window (and its engine);
// the next form4() builds a fresh one with a fresh engine.
//
// The engine factory decides which engine a new video window gets; without
// one (or when it makes none) it gets the playback engine.

#include "engine/DvdEngine.h"

namespace velmora {

class Form6;
class Form4;

Form6 &form6();
bool form6Loaded();
Form4 &form4();
bool form4Loaded();
void unloadForm4();

void setEngineFactory(EngineFactory factory);
// The engine for a new video window (host is the window).
DvdEngine *createEngine(QWidget *host);

} // namespace velmora
