#include "jobs/ItemFailure.h"

#include <exception>
#include <new>

#include "jobs/Conversion.h"

namespace tarvix {

// A lack of descriptors, memory or threads depends on what else runs; so does a full disk. What
// the source holds, a failing disk or a size over the format's limit is the same every time.
TItemFailure ClassifyCurrentException() {
  try {
    throw;
  } catch (const TSourceRefused& refused) {
    return {TFailureKind::kRefused, refused.lines};
  } catch (const TOutputMismatch& mismatch) {
    return {TFailureKind::kMismatch, {mismatch.detail}};
  } catch (const TFileError& error) {
    const bool spaceTaken = error.System().Why() == TSystemResult::TWhy::kNoSpace;
    if (error.Fault() == TFault::kResource) return {TFailureKind::kResource, {}, error};
    return {spaceTaken ? TFailureKind::kSpaceTaken : TFailureKind::kEndsTheRun, {}, error};
  } catch (const TError& error) {
    if (error.Fault() == TFault::kResource) return {TFailureKind::kResource, {}, error};
    return {TFailureKind::kEndsTheRun, {}, error};
  } catch (const std::bad_alloc&) {
    return {TFailureKind::kResource, {}, TError("Not enough memory", {}, {}, TFault::kResource)};
  } catch (const std::exception& error) {
    return {TFailureKind::kEndsTheRun, {}, TError(error.what())};
  }
}

TFailureAction ActionOn(const TItemFailure& failure, bool othersRan) {
  switch (failure.kind) {
    case TFailureKind::kRefused:
    case TFailureKind::kMismatch:
      return TFailureAction::kReport;
    case TFailureKind::kResource:
      return othersRan ? TFailureAction::kRetryAlone : TFailureAction::kReportShort;
    case TFailureKind::kSpaceTaken:
      return othersRan ? TFailureAction::kRetryAlone : TFailureAction::kEndRun;
    case TFailureKind::kEndsTheRun:
      break;
  }
  return TFailureAction::kEndRun;
}

std::string ShortOfResourceLine(const TItemFailure& failure, const std::string& source) {
  const TError& error = failure.error;
  const std::string& reason = error.Reason().empty() ? error.Message() : error.Reason();
  return "  ERROR: " + source + " was not converted: the system ran short (" + reason + ")";
}

std::vector<std::string> ReportedLines(const TItemFailure& failure, const std::string& output) {
  if (failure.kind == TFailureKind::kMismatch) {
    return {"  ERROR: verification failed: '" + output + "' did not read back as written (" +
            failure.lines.front() + ")"};
  }
  return failure.lines;
}

}  // namespace tarvix
