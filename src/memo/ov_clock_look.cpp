#include "ov_clock_look.h"

#include "ov_ac_clock.h"
#include "ov_database.h"
#include "ov_drawing_paper.h"
#include "ov_std_material.h"
#include "ov_trace.h"

namespace {

constexpr const char* kWeekday = "wday_digit";

OvGLTexture* MeshLook(const OvDatabase& database, int32_t meshIndex) {
  const OvMesh* mesh = database.Mesh(meshIndex);
  if (!mesh || mesh->subsetCount < 1 || !mesh->shaderIndices) return nullptr;
  const auto* material = dynamic_cast<const OvStdMaterial*>(database.Shader(mesh->shaderIndices[0]));
  return material && material->TextureCount() > 0 ? material->Texture(0) : nullptr;
}

// Depth first below `index`; the budget bounds a damaged file's loops.
OvGLTexture* TreeLook(const OvDatabase& database, int32_t index, int& budget) {
  for (const OvClumpRecord* r = database.ClumpRecord(index); r && budget-- > 0;
       r = database.ClumpRecord(r->nextBrother)) {
    if (OvGLTexture* t = MeshLook(database, r->meshIndex)) return t;
    if (OvGLTexture* t = TreeLook(database, r->firstChild, budget)) return t;
  }
  return nullptr;
}

}  // namespace

OvGLTexture* OvRecordLook(const OvDatabase& database, const char* name, std::string& why) {
  const int32_t index = database.FindClumpRecordIndex(name);
  const OvClumpRecord* record = database.ClumpRecord(index);
  if (!record) {
    why = std::string("no record named '") + name + "'";
    return nullptr;
  }
  OvGLTexture* look = MeshLook(database, record->meshIndex);
  int budget = int(database.ClumpRecordCount());
  if (!look) look = TreeLook(database, record->firstChild, budget);
  if (!look) why = std::string("the record '") + name + "' has no textured material";
  return look;
}

bool OvStartClock(OvLogObj* clockObject, const OvDatabase* localised) {
  OvAcClock* clock = OvAcClock::AttachTo(clockObject);
  if (!clock) return false;
  if (!localised || localised->FindClumpRecordIndex(kWeekday) < 0) return true;
  std::string why;
  OvGLTexture* look = OvRecordLook(*localised, kWeekday, why);
  if (!look) {
    _TraceFormat("### %s: the language file's look is not used: %s.\n", kWeekday, why.c_str());
    return true;
  }
  // The texture belongs to the language database, which outlives the scene.
  clock->SetPartsFoundHook([look](OvAcClock& found) {
    OvClump* digit = found.GetPart(OvAcClock::kWdayDigit);
    if (!digit)
      _TraceFormat("### %s: the clock has no weekday digit for the language's look.\n", kWeekday);
    else if (OvSetClumpTexture(digit, look, nullptr))
      _TraceFormat("%s: the language's own look is shown.\n", kWeekday);
    else
      _TraceFormat("### %s: the weekday digit has no textured material to take the language's look.\n", kWeekday);
  });
  return true;
}
