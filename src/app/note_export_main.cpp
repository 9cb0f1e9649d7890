#include "note_export_main.h"

#include <cstdio>

#include "ov_note_export.h"

int OvRunNoteExport(const std::string& dataFolder, const std::string& outFolder) {
  OvExportResult result;
  const bool ok = OvExportNotes(dataFolder, outFolder, result);
  for (const std::string& line : result.skipped) std::fprintf(stderr, "kiwa-memo: skipped %s\n", line.c_str());
  std::printf("kiwa-memo: %d note%s written to '%s'%s\n", result.written, result.written == 1 ? "" : "s",
              outFolder.c_str(), result.skipped.empty() ? "" : ", some skipped (see above)");
  return ok ? 0 : 1;
}
