#include "batch/DirectoryMode.h"

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
        fOutputExtension(fWavToNcw ? ".ncw" : ".wav") {
    fSearch.fRecursive = options.recursive;
    fSearch.InitSearch(options.sourceDirectory + (fWavToNcw ? "*.wav" : "*.ncw"));
  }

  bool Next(TWorkItem& item) override {
    if (!fSearch.GetNextFile()) return false;
    item.source = fSearch.fFoundFile;
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

  const std::vector<TUnreadFolder>& UnreadFolders() const { return fSearch.fUnreadFolders; }

 private:
  const TRunOptions& fOptions;
  const bool fWavToNcw;
  const char* const fOutputExtension;
  TFileSearch fSearch;
};

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
  // Files that could not even be looked for were not converted.
  if (outcome == TRunOutcome::kAllConverted && !work.UnreadFolders().empty()) {
    return TRunOutcome::kSomeFailed;
  }
  return outcome;
}

}  // namespace tarvix
