#include "frontend/CommandLine.h"

#include <array>
#include <charconv>
#include <string_view>

#include "frontend/Console.h"
#include "frontend/Help.h"
#include "frontend/Version.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"

namespace tarvix {

namespace {

enum class TFlagScan { kNotAFlag, kApplied, kHelp, kVersion, kWrongValue };

constexpr int kMaxThreads = 256;

// "-j" followed by digits sets the number of threads; a number out of range is refused.
TFlagScan ApplyThreadFlag(const std::string& arg, TRunOptions& options) {
  const std::string digits = arg.substr(2);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    return TFlagScan::kNotAFlag;
  }
  unsigned long long threads = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), threads);
  if (error != std::errc() || threads < 1 || threads > kMaxThreads) return TFlagScan::kWrongValue;
  options.threads = static_cast<int>(threads);
  return TFlagScan::kApplied;
}

// Compares `arg` exactly with each flag; applies the first that matches.
TFlagScan ApplyFlag(const std::string& arg, TRunOptions& options) {
  if (arg == "-h" || arg == "-?" || arg == "--help") return TFlagScan::kHelp;
  if (arg == "--version") return TFlagScan::kVersion;
  if (arg.starts_with("-j")) return ApplyThreadFlag(arg, options);
  if (arg == "-r" || arg == "-rec") {
    options.recursive = true;
  } else if (arg == "-rw" || arg == "-rewrite") {
    options.rewrite = true;
  } else if (arg == "-skip") {
    options.skipExisting = true;
  } else if (arg == "-verify") {
    options.verify = true;
  } else if (arg == "-crc") {
    options.checksums = true;
  } else if (arg == "-test") {
    options.test = true;
  } else if (arg == "-q") {
    options.quiet = true;
  } else if (arg == "-keeptime") {
    options.keepTime = true;
  } else if (arg == "-w2n") {
    options.direction = TConvertDirection::kWavToNcw;
  } else if (arg == "-n2w") {
    options.direction = TConvertDirection::kNcwToWav;
  } else if (arg == "-whs") {
    options.wavHeaderKind = TWavHeaderKind::kStandard;
  } else if (arg == "-whe") {
    options.wavHeaderKind = TWavHeaderKind::kExtended;
  } else if (arg == "-wha") {
    options.wavHeaderKind = TWavHeaderKind::kAuto;
  } else if (arg == "-l") {
    options.runMode = TRunMode::kList;
  } else {
    return TFlagScan::kNotAFlag;
  }
  return TFlagScan::kApplied;
}

// True for every parameter that would be taken as a flag in flag position.
bool IsKnownFlag(const std::string& arg) {
  TRunOptions scratch;
  return ApplyFlag(arg, scratch) != TFlagScan::kNotAFlag;
}

// A parameter in flag position that looks like a flag, is none and names nothing: a mistyped
// flag rather than a missing file. "-" alone is the pipe name.
bool IsUnknownFlag(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' && !FileExists(arg) && !DirectoryExists(arg) &&
         !NameTaken(arg);
}

TParseResult Refuse(TConsole& console, std::initializer_list<std::string> lines) {
  for (const std::string& line : lines) console.WriteLine(line);
  return TParseResult::kRefused;
}

// A name that is neither a file nor a folder: missing, or not to be examined at all, which is
// told with the reason rather than as missing.
TParseResult RefuseMissing(TConsole& console, const std::string& name, const std::string& missing) {
  if (const TSystemResult examined = Examine(name); !examined.Ok()) {
    return Refuse(console, {"ERROR: can't examine '" + name + "' (" + examined.Reason() + ")"});
  }
  return Refuse(console, {"ERROR: '" + name + "' " + missing});
}

TParseResult ValidateListMode(TRunOptions& options, TConsole& console) {
  const std::vector<std::string>& params = options.parameters;
  if (params.size() > 1) {
    return Refuse(console, {"ERROR: For list mode only 1 parameter is allowed (list file name)",
                            "       tarvix -l list_file"});
  }
  if (!FileExists(params[0])) return RefuseMissing(console, params[0], "list file doesn't exist");
  return TParseResult::kRun;
}

TParseResult ValidateDirectoryMode(TRunOptions& options, TConsole& console) {
  const std::vector<std::string>& params = options.parameters;
  if (options.direction == TConvertDirection::kNotGiven) {
    return Refuse(console, {"ERROR: Convert direction must be specified (-w2n or -n2w flags)"});
  }
  if (params.size() > 2) {
    return Refuse(console, {"ERROR: For directory mode only 1 or 2 parameters are allowed "
                            "(source and dest directory)",
                            "       tarvix source", "       tarvix source dest"});
  }
  if (params.size() == 2 && params[1] == kPipeName) {
    return Refuse(console, {"ERROR: '-' (standard input or output) converts one file; "
                            "a directory's files go to a directory"});
  }
  options.sourceDirectory = AddTrailingDelimiter(params[0]);
  options.destinationDirectory =
      params.size() == 2 ? AddTrailingDelimiter(params[1]) : options.sourceDirectory;
  return TParseResult::kRun;
}

// "-" converts one stream: it is the source or the output of the one pair, or both.
TParseResult ValidatePipe(TRunOptions& options, TConsole& console) {
  const std::vector<std::string>& params = options.parameters;
  if (params.size() != 2) {
    return Refuse(console, {"ERROR: '-' (standard input or output) goes with one other name: "
                            "tarvix - out.ncw, tarvix in.ncw -"});
  }
  if (params[1] == kPipeName && options.verify) {
    return Refuse(console, {"ERROR: -verify reads an output file back; standard output ('-') "
                            "can't be read back"});
  }
  if (params[0] != kPipeName) return TParseResult::kRun;  // the first file sets the direction
  if (params[1] == kPipeName) {
    if (options.direction == TConvertDirection::kNotGiven) {
      return Refuse(console, {"ERROR: Convert direction must be specified (-w2n or -n2w flags)"});
    }
    return TParseResult::kRun;
  }
  // The output's extension tells what the source is.
  const bool toNcw = UpperCaseAscii(ExtractFileExt(params[1])) == ".NCW";
  options.direction = toNcw ? TConvertDirection::kWavToNcw : TConvertDirection::kNcwToWav;
  return TParseResult::kRun;
}

TParseResult ValidateFileMode(TRunOptions& options, TConsole& console) {
  bool pipe = false;
  for (const std::string& param : options.parameters) {
    if (param == kPipeName) {
      pipe = true;
      continue;
    }
    std::string extension = UpperCaseAscii(ExtractFileExt(param));
    if (extension != ".WAV" && extension != ".NCW") {
      return Refuse(console, {"ERROR: wrong parameter '" + param + "' - files must be WAV or NCW"});
    }
  }
  if (pipe) {
    const TParseResult result = ValidatePipe(options, console);
    if (result != TParseResult::kRun || options.parameters[0] == kPipeName) return result;
  }
  // The first file alone sets the direction; -w2n and -n2w do not count in this mode.
  bool firstIsWav = UpperCaseAscii(ExtractFileExt(options.parameters[0])) == ".WAV";
  options.direction = firstIsWav ? TConvertDirection::kWavToNcw : TConvertDirection::kNcwToWav;
  return TParseResult::kRun;
}

TParseResult Validate(TRunOptions& options, TConsole& console) {
  const std::vector<std::string>& params = options.parameters;
  if (options.skipExisting && options.rewrite) {
    return Refuse(console, {"ERROR: -skip and -rw flags can't be used together"});
  }
  // -test writes nothing: flags about what is written cannot go with it.
  for (const auto& [set, flag] :
       {std::pair{options.rewrite, "-rw"}, std::pair{options.skipExisting, "-skip"},
        std::pair{options.verify, "-verify"}}) {
    if (options.test && set) {
      return Refuse(console,
                    {"ERROR: -test and " + std::string(flag) + " flags can't be used together"});
    }
  }
  if (params.empty()) {
    return Refuse(console, {"ERROR: At least one non-flag parameter must be used",
                            "       tarvix [flags] file|dir [file|dir]..."});
  }
  if (options.runMode == TRunMode::kList) return ValidateListMode(options, console);
  if (params[0] == kPipeName) {
    options.runMode = TRunMode::kFile;
    return ValidateFileMode(options, console);
  }
  bool isDirectory = DirectoryExists(params[0]);
  if (!isDirectory && !FileExists(params[0])) {
    return RefuseMissing(console, params[0], "file or directory doesn't exist");
  }
  options.runMode = isDirectory ? TRunMode::kDirectory : TRunMode::kFile;
  const TParseResult result =
      isDirectory ? ValidateDirectoryMode(options, console) : ValidateFileMode(options, console);
  // A run that writes WAV files only has nothing to put checksums in.
  if (result == TParseResult::kRun && options.checksums && !options.test &&
      options.direction == TConvertDirection::kNcwToWav) {
    return Refuse(console, {"ERROR: -crc applies to NCW outputs; NCW to WAV writes none"});
  }
  return result;
}

}  // namespace

TParseResult ParseCommandLine(const std::vector<std::string>& args, TRunOptions& options,
                              TConsole& console) {
  if (args.empty()) {
    ShowUsage(console, true);
    return TParseResult::kStopped;
  }
  bool flagsAllowed = true;
  for (const std::string& arg : args) {
    if (!flagsAllowed && IsKnownFlag(arg)) {
      return Refuse(console, {"ERROR: flag '" + arg + "' after the names; flags come first"});
    }
    if (flagsAllowed) {
      TFlagScan scan = ApplyFlag(arg, options);
      if (scan == TFlagScan::kHelp) {
        ShowHelp(console);
        return TParseResult::kStopped;
      }
      if (scan == TFlagScan::kVersion) {
        console.WriteLine(std::string(kProgramName) + " " + std::string(kProgramVersion));
        return TParseResult::kStopped;
      }
      if (scan == TFlagScan::kWrongValue) {
        return Refuse(console,
                      {"ERROR: wrong flag '" + arg + "' - the number of threads must be 1 to " +
                       std::to_string(kMaxThreads)});
      }
      if (scan == TFlagScan::kApplied) continue;
      if (IsUnknownFlag(arg)) {
        return Refuse(console, {"ERROR: unknown flag '" + arg + "' (" + std::string(kProgramName) +
                                " -h lists the flags)"});
      }
      flagsAllowed = false;  // the first non-flag parameter ends the flags for good
    }
    options.parameters.push_back(arg);
  }
  return Validate(options, console);
}

}  // namespace tarvix
