// The conversion of one file in either direction: read and convert the source in memory, write
// the result to a temporary file in the output's directory, then give it its final name.
#pragma once

#include <string>

#include "frontend/RunOptions.h"

namespace tarvix {

// False when the source was refused (not a valid WAV file, or one the encoder cannot take) or
// the output could not be placed; the job then printed why and left no file behind. Errors that
// end the run are raised as TError.
bool ConvertWavToNcw(const std::string& sourceName, const std::string& outputName,
                     TRunContext& context);

// False when the output could not be placed. An NCW source that cannot be opened or decoded
// raises TError, as do write failures.
bool ConvertNcwToWav(const std::string& sourceName, const std::string& outputName,
                     TRunContext& context);

// The job of a direction.
bool ConvertFile(TConvertDirection direction, const std::string& sourceName,
                 const std::string& outputName, TRunContext& context);

}  // namespace tarvix
