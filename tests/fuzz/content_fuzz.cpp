// Fuzz target: any byte string handed to the content loader must give trace
// lines and a partly loaded or empty database, never a crash or a hang. What
// loaded is written back to memory to exercise the writer on it too.
#include <cstddef>
#include <cstdint>

#include "ov_database.h"
#include "ov_stream.h"
#include "ov_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (OvTraceSetQuiet(true), true);
  (void)quiet;
  OvDatabase* db = OvDatabase::Create();
  if (db == nullptr) return 0;
  db->LoadMemory(data, size, "fuzz");
  OvStream out;
  if (out.OpenMemoryWrite()) db->Write(out);
  db->Destroy();
  return 0;
}
