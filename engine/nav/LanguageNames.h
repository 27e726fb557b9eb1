#pragma once
// English names of the languages discs give their streams.
//
// Discs name a stream's language with two ISO 639-1 letters, which
// libdvdnav hands over packed into 16 bits, first letter in the high byte
// (dvdnav_audio_stream_to_lang, dvdnav_spu_stream_to_lang; 0xFFFF when the
// disc gives none). Pure function, any thread.

#include <QString>
#include <cstdint>

namespace velmora {

// "English", "French", "German", ...; "Unknown" for 0, 0xFFFF, anything
// that is not two letters, and codes no language has. Upper-case letters and
// the codes ISO 639 withdrew after 1988 ("iw", "in", "ji"), which older discs
// carry, are understood.
QString languageName(std::uint16_t code);

} // namespace velmora
