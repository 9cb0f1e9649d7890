// Fuzz target: any bytes read as a note image file and as a note index must
// give a clear refusal or a decoded result, never a crash; an index that
// decodes writes back to as many bytes and decodes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ov_note_files.h"
#include "ov_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (OvTraceSetQuiet(true), true);
  (void)quiet;
  std::vector<uint8_t> image;
  std::string reason;
  if (OvDecodeNoteImage(data, size, image, reason) != (image.size() == OV_NOTE_IMAGE_BYTES)) std::abort();

  OvNoteIndex index;
  if (OvDecodeNoteIndex(data, size, index, reason)) {
    std::vector<uint8_t> again;
    if (!OvEncodeNoteIndex(index, again)) std::abort();
    OvNoteIndex back;
    if (again.size() != size || !OvDecodeNoteIndex(again.data(), again.size(), back, reason)) std::abort();
  }
  return 0;
}
