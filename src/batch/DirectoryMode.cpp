#include "batch/DirectoryMode.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/FileSearch.h"
#include "jobs/Engine.h"
#include "platform/FileNames.h"

namespace tarvix {

namespace {

// The files the search finds, each with its output at the same relative path below the
// destination. The search lists each folder only when it reaches it.
class TFoundWork final : public TWorkSource {
 public:
  explicit TFoundWork(const TRunOptions& options)
      : fOptions(options),
        fWavToNcw(options.direction == TConvertDirection::kWavToNcw),
        fOutputExtension(fWavToNcw ? ".ncw" : ".wav"),
        fSearch(options.sourceDirectory + (fWavToNcw ? "*.wav" : "*.ncw"), options.recursive) {}

  bool Next(TWorkItem& item) override {
    std::optional<std::string> found = fSearch.Next();
    if (!found) return false;
    item.source = std::move(*found);
    // Every found path starts with the source directory; what follows it is mirrored below
    // the destination.
    const std::string relative = item.source.substr(fOptions.sourceDirectory.size());
    item.output = ChangeFileExt(fOptions.destinationDirectory + relative, fOutputExtension);
    item.direction = fOptions.direction;
    return true;
  }

  std::string ProgressText(size_t, const TWorkItem& item) const override {
    return item.source + "...";  // no counter: the number of files is not known in advance
  }

  bool ReportsMissingSources() const override { return false; }

  const std::vector<TUnreadFolder>& UnreadFolders() const { return fSearch.UnreadFolders(); }

 private:
  const TRunOptions& fOptions;
  const bool fWavToNcw;
  const char* const fOutputExtension;
  TFileSearch fSearch;
};

size_t CountFiles(const std::string& folder, const char* mask, bool recursive) {
  TFileSearch search(folder + mask, recursive);
  size_t count = 0;
  while (search.Next()) ++count;
  return count;
}

std::string FilesOf(size_t count, const char* extension) {
  return std::to_string(count) + " " + extension + (count == 1 ? " file" : " files");
}

// Why a run found nothing to convert, and what would have matched: files of the other format,
// or of this one in subfolders that only -rec searches.
std::string NothingToConvertNote(const TRunOptions& options) {
  const bool wavToNcw = options.direction == TConvertDirection::kWavToNcw;
  const char* extension = wavToNcw ? ".wav" : ".ncw";
  const char* other = wavToNcw ? ".ncw" : ".wav";
  std::string folder = options.sourceDirectory;
  if (folder.size() > 1) folder.pop_back();  // the delimiter the command line added
  std::string note = std::string("  note: no ") + extension + " files in '" + folder + "'";
  if (options.recursive) note += " or its subfolders";
  std::vector<std::string> held;
  const size_t others =
      CountFiles(options.sourceDirectory, wavToNcw ? "*.ncw" : "*.wav", options.recursive);
  if (others != 0) {
    held.push_back(FilesOf(others, other) + " (" + (wavToNcw ? "-n2w" : "-w2n") +
                   " converts those)");
  }
  if (!options.recursive) {
    const size_t below = CountFiles(options.sourceDirectory, wavToNcw ? "*.wav" : "*.ncw", true);
    if (below != 0)
      held.push_back(FilesOf(below, extension) + " in subfolders (-rec converts those)");
  }
  if (!held.empty()) note += "; it holds " + held[0];
  if (held.size() == 2) note += " and " + held[1];
  return note;
}

void ReportUnreadFolders(const std::vector<TUnreadFolder>& unreadFolders, size_t from,
                         TRunStatus& status) {
  for (size_t i = from; i < unreadFolders.size(); ++i) {
    std::string folder = unreadFolders[i].folder;
    if (folder.size() > 1) folder.pop_back();  // the delimiter the search added
    status.WriteLine("  ERROR: can't read folder '" + folder + "' (" + unreadFolders[i].reason +
                     ")");
  }
}

}  // namespace

TRunOutcome RunDirectoryMode(TRunContext& context) {
  TFoundWork work(context.options);
  // Told before the first file: the whole tree is walked before anything is converted.
  const size_t unreadAtTheWalk = work.UnreadFolders().size();
  ReportUnreadFolders(work.UnreadFolders(), 0, context.status);
  const TRunOutcome outcome = RunConversions(work, context);
  // Folders that could no longer be read when their turn to be listed came.
  ReportUnreadFolders(work.UnreadFolders(), unreadAtTheWalk, context.status);
  if (context.counts.Total() == 0 && !context.options.quiet) {
    context.status.WriteLine(NothingToConvertNote(context.options));
  }
  // Files that could not even be looked for were not converted.
  if (outcome == TRunOutcome::kAllConverted && !work.UnreadFolders().empty()) {
    return TRunOutcome::kSomeFailed;
  }
  return outcome;
}

}  // namespace tarvix
