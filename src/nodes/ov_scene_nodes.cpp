#include "ov_scene_nodes.h"

#include <SDL.h>

#include <cstring>
#include <string>

#include "ov_content_switch.h"
#include "ov_database.h"
#include "ov_node_flags.h"
#include "ov_scene.h"
#include "ov_spawn.h"
#include "ov_stream.h"
#include "ov_trace.h"

namespace {

// ---------------------------------------------------------------------------
// Handlers and policy.

void DefaultMessage(void*, const char* text, const char* caption) {
  _TraceFormat("%s: %s\n", caption, text);
  // A box only on a real display: it blocks the frame until closed.
  const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr;
  if (driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0) {
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
  }
}

bool DefaultExecute(void*, const OvExecRequest& request);

OvExecFn g_execute = DefaultExecute;
OvExecMessageFn g_message = DefaultMessage;
void* g_execContext = nullptr;
bool g_execAllowed = false;
std::string g_contentFolder;

bool DefaultExecute(void*, const OvExecRequest& request) {
  OvProgramRequest program;
  program.file = request.file;
  program.parameters = request.parameters;
  program.directory = request.directory;
  program.baseFolder = request.baseFolder;
  return OvStartProgram(program) >= 0;
}

}  // namespace

void OvSetExecHandlers(OvExecFn execute, OvExecMessageFn message, void* context) {
  g_execute = execute ? execute : DefaultExecute;
  g_message = message ? message : DefaultMessage;
  g_execContext = context;
}

void OvSetExecPolicy(bool allowed, const char* contentFolder) {
  g_execAllowed = allowed;
  g_contentFolder = contentFolder ? contentFolder : "";
}

namespace {

const OvNodeParamDesc kChangeCameraParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "Camera", OV_PK_REF, -1),
};

const OvNodeParamDesc kChangeSceneParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "Orvo File", OV_PK_FILE),
};

const OvNodeParamDesc kExternalExecutionParams[] = {
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),  OvParamI(1, "Exe", OV_PK_FILE),
    OvParamI(2, "Parameters", OV_PK_TEXT),       OvParamI(3, "Working Directory", OV_PK_TEXT),
    OvParamI(4, "Error Dialog", OV_PK_CHECK, 1),
};

template <class Node, size_t N>
OvNodeType* MakeType(const OvTypeId& pair, const char* name, const OvNodeParamDesc (&params)[N]) {
  return new OvNodeTypeOf<Node>(pair, name, params, int(N));
}

}  // namespace

// ---------------------------------------------------------------------------
// "Change Camera": "iiii".

bool OvChangeCameraNode::Read(OvStream& stream, OvChunkArena&) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &checkMask, &checkValue, &cameraId);
}

bool OvChangeCameraNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, checkMask, checkValue, cameraId);
}

void OvChangeCameraNode::Bind(OvDatabase* database) { serial = database ? database->Serial() : -1; }

bool OvChangeCameraNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  int32_t objectKey = -1;
  v.Ref(1, objectKey, cameraId);
  return true;
}

void OvChangeCameraNode::Animate(OvClump* clump, int32_t) {
  OvScene* scene = clump ? clump->GetScene() : nullptr;
  if (!scene || !OvFlagTest(*clump, checkMask, checkValue)) return;
  const OvClump* current = scene->GetCrntCamera();
  if (cameraId == -1) {
    // Already this clump: nothing to ask.
    if (current != clump) scene->UseCamera(clump);
    return;
  }
  if (current && current->GetID() == cameraId && (serial == -1 || current->GetSerial() == serial)) return;
  // Only a clump of the node's own database.
  scene->UseCamera(scene->SearchClump_ID(cameraId, serial));
}

// ---------------------------------------------------------------------------
// "Change Scene": "iii" and the file name.

bool OvChangeSceneNode::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0;
  return stream.ReadLayout("iii", &format, &checkMask, &checkValue) && stream.ReadString(fileName, &arena);
}

bool OvChangeSceneNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iii", kFormat, checkMask, checkValue) && stream.WriteString(fileName);
}

bool OvChangeSceneNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  fileName = v.Text(1);
  if (fileName && !*fileName) fileName = nullptr;
  return true;
}

void OvChangeSceneNode::Animate(OvClump* clump, int32_t) {
  if (!clump || !OvFlagTest(*clump, checkMask, checkValue)) return;
  // No name asks the program to end (content's quit button). A name cut to
  // fit would name another file, which is not what the content asked for.
  if (fileName && std::strlen(fileName) >= size_t(OV_NEXT_CONTENT_SIZE)) return;
  OvRequestContentChange(fileName ? fileName : "");
}

// ---------------------------------------------------------------------------
// "External Execution": "iiii" and three strings.

bool OvExternalExecutionNode::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &options, &checkMask, &checkValue) && stream.ReadString(file, &arena) &&
         stream.ReadString(parameters, &arena) && stream.ReadString(directory, &arena);
}

bool OvExternalExecutionNode::Write(OvStream& stream) const {
  return stream.WriteLayout("iiii", kFormat, options, checkMask, checkValue) && stream.WriteString(file) &&
         stream.WriteString(parameters) && stream.WriteString(directory);
}

bool OvExternalExecutionNode::FromValues(const OvParamValues& v) {
  v.FlagPair(0, checkMask, checkValue);
  // Empty texts are stored as none, as a read would give them.
  auto text = [&](int slot) {
    char* t = v.Text(slot);
    return t && *t ? t : nullptr;
  };
  file = text(1);
  parameters = text(2);
  directory = text(3);
  options = v.Check(4) ? kErrorDialog : 0;
  return true;
}

void OvExternalExecutionNode::Animate(OvClump* clump, int32_t) {
  if (!clump || !OvFlagTest(*clump, checkMask, checkValue)) return;
  const bool errorUi = (options & kErrorDialog) != 0;
  if (file && *file) {
    if (!g_execAllowed) {
      if (!refusalTraced)
        _TraceFormat(
            "!!! External Execution of '%s' refused: content from outside the program folder starts "
            "programs only with --allow-exec.\n",
            file);
      refusalTraced = true;
      return;
    }
    const OvExecRequest request{file, parameters, directory && *directory ? directory : nullptr,
                                g_contentFolder.c_str(), errorUi};
    if (!g_execute(g_execContext, request) && errorUi && !errorShown) {
      // A box blocks the frame until closed: a flag that stays set must not
      // bring it back every frame.
      errorShown = true;
      g_message(g_execContext, "The file or object could not be opened.", "External execution error");
    }
  } else if (errorUi && !errorShown) {
    errorShown = true;
    g_message(g_execContext, "No executable file or object.", "External execution error");
  }
}

// ---------------------------------------------------------------------------

OvNodeType* OvSceneNodeTypeCreate(const OvTypeId& pair, const char* name) {
  if (pair == OV_NODE_CHANGE_CAMERA) return MakeType<OvChangeCameraNode>(pair, name, kChangeCameraParams);
  if (pair == OV_NODE_CHANGE_SCENE) return MakeType<OvChangeSceneNode>(pair, name, kChangeSceneParams);
  if (pair == OV_NODE_EXTERNAL_EXECUTION) {
    return MakeType<OvExternalExecutionNode>(pair, name, kExternalExecutionParams);
  }
  return nullptr;
}
