#include "jobs/ItemFailure.h"

#include <cerrno>
#include <new>

#include "jobs/Conversion.h"
#include "platform/Errors.h"

namespace tarvix {

// A lack of descriptors, memory or threads depends on what else runs; so does a full disk. What
// the source holds, a failing disk or a size over the format's limit is the same every time.
TFailureAction ActionOn(const std::exception_ptr& failure, bool othersRan) {
  try {
    std::rethrow_exception(failure);
  } catch (const TSourceRefused&) {
    return TFailureAction::kReport;
  } catch (const TOutputMismatch&) {
    return TFailureAction::kReport;
  } catch (const TFileError& error) {
    const bool spaceTaken = error.ErrorNumber() == ENOSPC || error.ErrorNumber() == EDQUOT;
    if (error.Fault() == TFault::kResource) {
      return othersRan ? TFailureAction::kRetryAlone : TFailureAction::kReportShort;
    }
    return spaceTaken && othersRan ? TFailureAction::kRetryAlone : TFailureAction::kEndRun;
  } catch (const TError& error) {
    if (error.Fault() == TFault::kResource) {
      return othersRan ? TFailureAction::kRetryAlone : TFailureAction::kReportShort;
    }
    return TFailureAction::kEndRun;
  } catch (const std::bad_alloc&) {
    return othersRan ? TFailureAction::kRetryAlone : TFailureAction::kReportShort;
  } catch (...) {
    return TFailureAction::kEndRun;
  }
}

std::string ShortOfResourceLine(const std::exception_ptr& failure, const std::string& source) {
  std::string reason = "Not enough memory";
  try {
    std::rethrow_exception(failure);
  } catch (const TError& error) {
    reason = error.Reason().empty() ? error.Message() : error.Reason();
  } catch (...) {
  }
  return "  ERROR: " + source + " was not converted: the system ran short (" + reason + ")";
}

std::vector<std::string> ReportedLines(const std::exception_ptr& failure, const std::string& output) {
  try {
    std::rethrow_exception(failure);
  } catch (const TSourceRefused& refused) {
    return refused.lines;
  } catch (const TOutputMismatch& mismatch) {
    return {"  ERROR: verification failed: '" + output + "' did not read back as written (" +
            mismatch.detail + ")"};
  } catch (...) {
  }
  return {};
}

}  // namespace tarvix
