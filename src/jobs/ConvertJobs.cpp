#include "jobs/ConvertJobs.h"

#include <new>

#include "frontend/Console.h"
#include "jobs/OutputNaming.h"
#include "ncw/NCWParser3.h"
#include "platform/Errors.h"
#include "platform/FileStream.h"
#include "wav/WAVParser3.h"

namespace tarvix {

namespace {

bool RefuseSource(TRunContext& context, const std::string& sourceName, const std::string& reason) {
  context.console.EndProgressLine();
  context.console.WriteLine("  ERROR: " + sourceName + " is not a correct WAV file");
  context.console.WriteLine("  WAVPARSER: " + reason);
  return false;
}

bool ReportNotPlaced(TRunContext& context, const TPlacement& placement) {
  context.console.EndProgressLine();
  context.console.WriteLine("  ERROR: can't write '" + placement.finalName + "' (" +
                            placement.reason + ")");
  return false;
}

// The samples are the WAV data unchanged: straight from the mapped file when it holds all of
// them, else read into a zeroed array (the part the file lacks stays zero).
template <class C>
bool ReadSamplesAs(TNCWParser& ncw, TWavParser& wav, const TStreamDescription& stream,
                   TFileMapping& mapping) {
  TSampleArray<C>& samples = ncw.SamplesOf<C>();
  const size_t count = size_t{stream.nChannels} * stream.fFrameCount;
  if (wav.MapData(mapping)) {
    samples.SetView(mapping.Data() + wav.fDataOffset, count);
    return true;
  }
  samples.SetLength(count);
  return wav.ReadData(samples.Bytes(), samples.ByteSize());
}

// Fills the sample array of the stream's container width with the WAV data. `mapping` keeps
// the source's bytes alive while the array looks at them.
bool ReadSamples(TNCWParser& ncw, TWavParser& wav, const TStreamDescription& stream,
                 TFileMapping& mapping) {
  try {
    switch (stream.wBitsPerSample) {
      case 8:
        return ReadSamplesAs<TSample8>(ncw, wav, stream, mapping);
      case 16:
        return ReadSamplesAs<TSample16>(ncw, wav, stream, mapping);
      case 24:
        return ReadSamplesAs<TSample24>(ncw, wav, stream, mapping);
      default:
        return ReadSamplesAs<TSample32>(ncw, wav, stream, mapping);
    }
  } catch (const std::bad_alloc&) {
    throw TError("Not enough memory for the samples", wav.fFileName);
  }
}

// Errors about the temporary file name the output the user asked for; errors without a file
// name the source.
[[noreturn]] void RethrowNamed(const TError& error, const std::string& tempName,
                               const std::string& sourceName, const std::string& outputName) {
  if (!tempName.empty() && error.FileName() == tempName) {
    throw TError(error.Message(), outputName, error.Reason());
  }
  if (error.FileName().empty()) throw TError(error.Message(), sourceName, error.Reason());
  throw;
}

bool PlaceAndReport(TTempFile& temp, const std::string& outputName, TRunContext& context) {
  TPlacement placement = PlaceOutput(temp, outputName, context.options.rewrite);
  return placement.placed || ReportNotPlaced(context, placement);
}

bool UsesExtendedHeader(TWavHeaderKind kind, const TNcwHeader& header) {
  switch (kind) {
    case TWavHeaderKind::kStandard:
      return false;
    case TWavHeaderKind::kExtended:
      return true;
    case TWavHeaderKind::kAuto:
      break;
  }
  // 44100 itself still gets the standard header.
  return header.Channels > 2 || header.BitsPerSample > 16 || header.SampleRate > 44100;
}

}  // namespace

bool ConvertWavToNcw(const std::string& sourceName, const std::string& outputName,
                     TRunContext& context) {
  std::string tempName;
  try {
    TWavParser wav;
    wav.OpenFile(sourceName);  // a failed open makes the parse fail with "File not opened"
    if (!wav.ParseHeader()) return RefuseSource(context, sourceName, wav.fErrorText);
    const TStreamDescription stream = wav.StreamDescription();
    if (!IsContainerWidth(stream.wBitsPerSample)) {
      return RefuseSource(context, sourceName,
                          "Unsupported container size (8,16,24 and 32 bits allowed)");
    }
    std::unique_ptr<TTempFile> temp = MakeTempFileName(outputName);
    tempName = temp->Name();
    {
      TFileMapping mapping;  // outlives the parser that looks at it
      TNCWParser ncw;
      ncw.Clear();
      if (!ReadSamples(ncw, wav, stream, mapping)) {
        return RefuseSource(context, sourceName, wav.fErrorText);
      }
      wav.CloseFile();
      ncw.Encode(stream);
      ncw.SaveToNcw(tempName);
    }
    return PlaceAndReport(*temp, outputName, context);
  } catch (const TError& error) {
    RethrowNamed(error, tempName, sourceName, outputName);
  }
}

bool ConvertNcwToWav(const std::string& sourceName, const std::string& outputName,
                     TRunContext& context) {
  std::string tempName;
  try {
    auto ncw = std::make_unique<TNCWParser>();
    ncw->Clear();
    ncw->Open(sourceName);
    ncw->Decode();
    // Made only now, so that a source that cannot be read leaves nothing behind.
    std::unique_ptr<TTempFile> temp = MakeTempFileName(outputName);
    tempName = temp->Name();
    if (UsesExtendedHeader(context.options.wavHeaderKind, ncw->Header)) {
      ncw->SaveToWavExt(tempName);
    } else {
      ncw->SaveToWav(tempName);
    }
    ncw.reset();
    return PlaceAndReport(*temp, outputName, context);
  } catch (const TError& error) {
    RethrowNamed(error, tempName, sourceName, outputName);
  }
}

bool ConvertFile(TConvertDirection direction, const std::string& sourceName,
                 const std::string& outputName, TRunContext& context) {
  return direction == TConvertDirection::kWavToNcw
             ? ConvertWavToNcw(sourceName, outputName, context)
             : ConvertNcwToWav(sourceName, outputName, context);
}

}  // namespace tarvix
