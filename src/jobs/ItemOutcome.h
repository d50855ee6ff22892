// How an item that is not there to convert is told to the user.
#pragma once

#include <string>

namespace tarvix {

// The line for a source that is not there to convert: it does not exist, or it cannot even be
// examined (a folder on its way that may not be entered), which is told with the reason.
std::string MissingSourceLine(const std::string& source);

}  // namespace tarvix
