#pragma once
// The subtitle and audio captions of the video window's information box.
//
// DescribeSubtitle writes "Subtitle :" + language of every subtitle stream
// the engine reports as enabled, in stream order, into label (so the last
// enabled stream's language stays); DescribeAudio the same with "Audio
// Language" over the audio streams. Nothing is written when no stream is
// enabled. The first engine error (or a count above 32768) ends the routine
// silently; captions already written stay.
//
// UI thread only.

class QLabel;

namespace velmora {

class DvdEngine;

void DescribeSubtitle(DvdEngine &engine, QLabel &label);
void DescribeAudio(DvdEngine &engine, QLabel &label);

} // namespace velmora
