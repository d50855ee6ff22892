// The line that names what a WAV source holds besides its samples, which an NCW file cannot
// keep: chunks such as smpl, cue or LIST, significant bits below the container width, a speaker
// mask. It is information; the conversion goes on.
#pragma once

#include <string>

#include "wav/WavReader.h"

namespace tarvix {

// "  note: '<source>' has <what>, <what>; NCW keeps the samples only", or "" when the file
// holds nothing that is lost.
std::string WavNoteLine(const std::string& source, const TWavExtras& extras);

// A chunk identifier as the note shows it: trailing blanks dropped ("cue " as cue), and every
// byte that is not a visible ASCII character, or that is a backslash or a comma, as \xHH, so
// that the line is safe on a terminal and its list cannot be misread.
std::string ShownChunkId(const TChunkIdBytes& id);

}  // namespace tarvix
