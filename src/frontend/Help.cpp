#include "frontend/Help.h"

#include <array>
#include <string_view>

#include "frontend/Console.h"
#include "frontend/Version.h"

namespace tarvix {

namespace {

// The usage text after its blank first line and its title line, which carries the version.
constexpr std::array<std::string_view, 34> kUsageLines = {
    "----------------",
    "Usage:",
    "",
    "tarvix [flags] file|dir [file|dir]...",
    "",
    "tarvix file                   - converts file",
    "tarvix file1 file2 file3...   - converts files",
    "tarvix -l list_file           - converts files from list file",
    "tarvix dir                    - converts files from directory",
    "tarvix dir1 dir2              - converts files from dir1 and ",
    "                                put output files into dir2",
    "                                (a dir needs -w2n or -n2w)",
    "tarvix in.ncw -               - converts to standard output",
    "tarvix - out.ncw              - converts standard input",
    "----------------",
    "Flags:",
    "-h,-?,--help - detailed help information",
    "-w2n         - convert WAV files to NCW",
    "-n2w         - convert NCW files to WAV",
    "-rw,-rewrite - rewrite existing files",
    "-skip        - skip files whose output exists already",
    "-verify      - read each output back and compare it before it is named",
    "-crc         - NCW outputs carry checksums of every byte",
    "-test        - check the sources: read them through, write nothing",
    "-q           - quiet: no progress texts and no notes",
    "-keeptime    - give each output its source's modification time",
    "-rec,-r      - recursive directory search (including subdirectories)",
    "-l           - list mode",
    "-whs         - standard WAV header",
    "-whe         - extended WAV header",
    "-wha         - auto WAV header, depending on WAV properties",
    "-jN          - convert with N threads (default: one per core)",
    "--version    - program name and version",
    "----------------",
};

constexpr std::string_view kUsageHint = "tarvix -h for more detailed help";

constexpr std::array<std::string_view, 105> kHelpLines = {
    "SAMPLE USAGE:",
    "  tarvix PIANO.WAV",
    "  tarvix PIANO1.WAV PIANO2.WAV PIANO3.WAV VIOLIN.WAV",
    "  tarvix KICK.NCW SNARE.NCW",
    "  tarvix KICK.NCW NEWKICK.WAV SNARE.NCW NEWSNARE.WAV",
    "  tarvix -n2w ~/Piano/Samples ~/Piano/WAVSamples",
    "  tarvix -w2n -rec -rw ~/Drums/Mywav ~/Drums/myNCW",
    "----------------",
    "",
    "MODES:",
    "  If -l parameter is used then program works in list mode",
    "  If no -l parameter is used and the first non-flag parameter is a file",
    "  then the program works in file mode.",
    "  If no -l parameter is used and the first non-flag parameter is a ",
    "  directory then the program works in directory mode",
    "",
    "--------------------------------",
    "FILE MODE:",
    "  In file mode -w2n, -n2w, -rec flags are ignored",
    "  Program converts files based on first file extension. Thus if first",
    "  file is a WAV file then WAV->NCW conversion applied to this and next",
    "  files",
    "",
    "  By default output files would have the same name, but different extension",
    "  i.e. \"tarvix VIOLA.NCW\" would create file 'VIOLA.wav'",
    "",
    "  If file name is followed by a file name with different extension,",
    "  this new name would be used as an output file name instead",
    "  i.e. \"tarvix VIOLA.NCW NEW_VIOLA.WAV\" would create file 'NEW_VIOLA.WAV'",
    "",
    "  If file with the same name exists already, and no -rw flag is used",
    "  then program would add underscore and a number to the file name",
    "  i.e. \"tarvix PIANO.WAV\" would create 'PIANO_1.ncw' if PIANO.ncw ",
    "  exists already, or 'PIANO_2.ncw' if PIANO_1.ncw exists etc",
    "",
    "  If -rw flag is used then existing files would be overwritten",
    "",
    "  The name - stands for standard input as the one source, or standard",
    "  output as the one output: \"tarvix - OUT.NCW\" reads a WAV stream,",
    "  \"tarvix IN.NCW -\" writes one. With - for both, -w2n or -n2w tells",
    "  the direction. Messages then go to standard error.",
    "",
    "--------------------------------",
    "DIRECTORY MODE:",
    "  In directory mode one of the flags -w2n or -n2w is obligatory.",
    "  If no output directory specified, program would save output files",
    "  in the same source directory",
    "",
    "  If second directory is specified, it would be used for storing output",
    "  files. If -rec flag is used, then the source directory structure would",
    "  be mirrored in destination directory",
    "",
    "  If no -rec flag is used, program searches files only in the",
    "  specified directory but not in its subdirectories. To include",
    "  files from all subdirectories use -rec flag",
    "",
    "--------------------------------",
    "LIST MODE:",
    "  In list mode first non-flag parameter must be a name of a list file.",
    "  List file may have any extension, but it has to have a particular ",
    "  structure. It must be a text file with first string '@tarvixlist1'",
    "  or '@tarvixlist2'",
    "",
    "  If first string is '@tarvixlist1' then second and next strings are",
    "  names of files to convert. Output files would be put in the same",
    "  directory as source files.",
    "  Output files would have the same name as source files but different",
    "  extension.",
    "",
    "  If first string is '@tarvixlist2' then list file must consist of",
    "  source file names followed by output file names.",
    "  i.e.    @tarvixlist2",
    "          /home/me/samples/violin.ncw",
    "          /home/me/WAVs/violin.wav",
    "          /home/me/samples/piano.ncw",
    "          /home/me/WAVs/piano.wav",
    "          ...",
    "",
    "  If -rw flag is used then existing files would be rewritten.",
    "  If -rw flag is not used and there is a file with the same name, then",
    "  the program would add underscore and a number to the output file name",
    "",
    "  In list mode -w2n,-n2w,-rec flags are ignored. Conversion would be",
    "  made based on files extensions. Thus list mode allows you to convert",
    "  files in both directions.",
    "",
    "  With -verify every output is read back from the disk and compared with",
    "  its source before it gets its name. One that differs is not kept: its",
    "  lines say that verification failed, and the exit status is 1.",
    "",
    "  With -q no progress texts and no notes are shown; error and warning",
    "  lines and the closing count are. With -keeptime every output gets",
    "  its source's modification and access time, as flac does by default.",
    "",
    "--------------------------------",
    "CHECKING:",
    "  With -crc every NCW output carries CRC-32C checksums of its header, its",
    "  block table and each channel block, in bytes other readers ignore.",
    "  Reading such a file checks them; a file that fails is not converted.",
    "",
    "  With -test nothing is written: every source is read through as in a",
    "  conversion, NCW files decoded and their checksums checked. The run ends",
    "  with 'N files: C intact, S skipped, D damaged'; the exit status is 0",
    "  only when every file is intact.",
    "  i.e.    tarvix -test -n2w -rec ~/Library",
};

}  // namespace

void ShowUsage(TConsole& console, bool hint) {
  console.WriteLine("");
  console.WriteLine(std::string(kProgramName) + " utility " + std::string(kProgramVersion) +
                    " - converts between NCW and WAV");
  for (std::string_view line : kUsageLines) console.WriteLine(line);
  if (hint) console.WriteLine(kUsageHint);
}

void ShowHelp(TConsole& console) {
  ShowUsage(console, false);
  for (std::string_view line : kHelpLines) console.WriteLine(line);
}

}  // namespace tarvix
