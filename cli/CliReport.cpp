#include "cli/CliReport.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include "image/Catalogue.h"
#include "image/ImageSearch.h"
#include "image/ImageSet.h"
#include "log/CDownloadLog.h"
#include "platform/TextCodec.h"
#include "platform/Translation.h"
#include "upgrade/SupportReport.h"

int RunReportCommand(const CliOptions& options, FILE* out, FILE* err) {
  SupportReportInput input;
  input.frontEnd = "qor-oneclick-cli";
  std::string error;
  if (options.logPath) {
    input.logPath = *options.logPath;
  } else if (!CDownloadLog::DefaultPath(LogKind::Technician, input.logPath, error)) {
    input.logPath.clear();
  }
  if (!input.logPath.empty()) input.lastCheckPath = LastCheckPathFor(input.logPath);

  // the images a Check would use
  CImageSet images;
  ImageSearchInput search;
  if (options.imagesDir) search.chosenFolder = *options.imagesDir;
  search.loadEmbedded = [&images] { return LoadEmbeddedImages(images); };
  search.executableFolder = GetExecutableFolder();
  search.getenv = [](const char* name) -> const char* { return std::getenv(name); };
  const ImageSource source = FindImageSource(search);
  if (source.kind == ImageSourceKind::Embedded)
    input.embeddedImages = &images;
  else
    input.imageFolder = source.folder;

  const std::string path =
      options.outputPath ? *options.outputPath : DefaultSupportReportName(std::time(nullptr));
  if (!WriteSupportReport(input, path, error)) {
    std::fprintf(
        err, "qor-oneclick-cli: %s\n",
        FormatText(Tr("The support report could not be written: %1"), {PrintableText(error)}).c_str());
    return kExitFailed;
  }
  if (!options.quiet)
    std::fprintf(out, "%s\n", FormatText(Tr("Support report: %1"), {PrintableText(path)}).c_str());
  return kExitOk;
}
