// What the program tells about itself: the usage text, and the detailed help (the usage text
// followed by sample command lines and the run modes).
#pragma once

namespace tarvix {

class TConsole;

// The usage text; with `hint` a closing line that points to the detailed help.
void ShowUsage(TConsole& console, bool hint);

void ShowHelp(TConsole& console);

}  // namespace tarvix
