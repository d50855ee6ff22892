// The detailed help: the usage text followed by sample command lines and the run modes.
#pragma once

namespace tarvix {

class TConsole;

void ShowHelp(TConsole& console);

}  // namespace tarvix
