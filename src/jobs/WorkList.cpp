#include "jobs/WorkList.h"

#include "jobs/Engine.h"

namespace tarvix {

namespace {

class TListedWork final : public TWorkSource {
 public:
  explicit TListedWork(const std::vector<TWorkItem>& items)
      : fItems(items), fTotal(std::to_string(items.size())) {}

  bool Next(TWorkItem& item) override {
    if (fNext == fItems.size()) return false;
    item = fItems[fNext++];
    return true;
  }

  std::string ProgressText(size_t index, const TWorkItem& item) const override {
    // Appended piece by piece: GCC 12 warns wrongly about a chain of + on strings here.
    std::string text = "[";
    text.append(std::to_string(index + 1)).append(" from ").append(fTotal).append("]  ");
    return text.append(item.source).append("...");
  }

  bool ReportsMissingSources() const override { return true; }

 private:
  const std::vector<TWorkItem>& fItems;
  const std::string fTotal;
  size_t fNext = 0;
};

}  // namespace

TRunOutcome ConvertWorkList(const std::vector<TWorkItem>& items, TRunContext& context) {
  TListedWork work(items);
  return RunConversions(work, context);
}

}  // namespace tarvix
