#include "ov_scene_nodes.h"

#include <SDL.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "ov_content_switch.h"
#include "ov_database.h"
#include "ov_node_flags.h"
#include "ov_scene.h"
#include "ov_stream.h"
#include "ov_trace.h"

extern char** environ;

namespace {

// ---------------------------------------------------------------------------
// Shell handlers.

void DefaultMessage(void*, const char* text, const char* caption) {
  _TraceFormat("%s: %s\n", caption, text);
  // A box only on a real display: it blocks the frame until closed.
  const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr;
  if (driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0) {
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
  }
}

void DefaultExecute(void*, const OvShellRequest& request);

OvShellExecuteFn g_execute = DefaultExecute;
OvShellMessageFn g_message = DefaultMessage;
void* g_shellContext = nullptr;

void DefaultExecute(void*, const OvShellRequest& request) {
  if (OvShellStart(request) < 0 && request.errorUi) {
    g_message(g_shellContext, "The file or object could not be opened.", "External execution error");
  }
}

// Children started and not yet seen to end.
constexpr int kMaxChildren = 64;
pid_t g_children[kMaxChildren];
int g_childCount = 0;

void ReapChildren() {
  int kept = 0;
  for (int i = 0; i < g_childCount; ++i) {
    int status = 0;
    const pid_t r = waitpid(g_children[i], &status, WNOHANG);
    if (r == 0) g_children[kept++] = g_children[i];
  }
  g_childCount = kept;
}

pid_t Spawn(const char* program, const std::vector<std::string>& args, const char* directory, bool search) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  bool ok = true;
  if (directory) ok = posix_spawn_file_actions_addchdir_np(&actions, directory) == 0;
  // The child must not inherit the engine's standard input.
  if (ok) ok = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0;
  pid_t pid = -1;
  const int rc = !ok ? -1
                 : search ? posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ)
                          : posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  if (g_childCount < kMaxChildren) g_children[g_childCount++] = pid;
  return pid;
}

pid_t OpenDocument(const std::string& target, const char* directory) {
  // A leading dash would read as an option.
  const std::string arg = !target.empty() && target[0] == '-' ? "./" + target : target;
  return Spawn("xdg-open", {"xdg-open", arg}, directory, true);
}

}  // namespace

void OvSetShellHandlers(OvShellExecuteFn execute, OvShellMessageFn message, void* context) {
  g_execute = execute ? execute : DefaultExecute;
  g_message = message ? message : DefaultMessage;
  g_shellContext = context;
}

std::vector<std::string> OvSplitShellArguments(const char* text) {
  std::vector<std::string> out;
  if (!text) return out;
  std::string current;
  bool inArg = false, quoted = false;
  for (const char* p = text; *p; ++p) {
    const char c = *p;
    if (c == '\\' && p[1] == '"') {
      current += '"';
      inArg = true;
      ++p;
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArg) out.push_back(current);
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) out.push_back(current);
  return out;
}

int OvShellStart(const OvShellRequest& request) {
  ReapChildren();
  if (!request.file || !*request.file) return -1;
  const char* directory = request.directory && *request.directory ? request.directory : nullptr;
  const std::string file = request.file;
  const bool hasSlash = file.find('/') != std::string::npos;
  // A relative name is looked for in the working directory first.
  const std::string local = file[0] != '/' && directory ? std::string(directory) + "/" + file : file;
  struct stat st {};
  const bool exists = stat(local.c_str(), &st) == 0;
  if (exists) {
    if (S_ISREG(st.st_mode) && access(local.c_str(), X_OK) == 0) {
      std::vector<std::string> args = OvSplitShellArguments(request.parameters);
      args.insert(args.begin(), file);
      return Spawn(local.c_str(), args, directory, false);
    }
    return OpenDocument(local, directory);
  }
  if (!hasSlash) {
    std::vector<std::string> args = OvSplitShellArguments(request.parameters);
    args.insert(args.begin(), file);
    const pid_t pid = Spawn(file.c_str(), args, directory, true);
    // Not a program: perhaps an address ("mailto:...").
    if (pid < 0 && file.find(':') != std::string::npos) return OpenDocument(file, directory);
    return pid;
  }
  // A missing path: only addresses are worth handing on.
  return file.find("://") != std::string::npos ? OpenDocument(file, directory) : -1;
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
    OvParamI(0, "Check Flag", OV_PK_FLAG_PAIR),
    OvParamI(1, "Exe", OV_PK_FILE),
    OvParamI(2, "Parameters", OV_PK_TEXT),
    OvParamI(3, "Working Directory", OV_PK_TEXT),
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
  // No name would read as a request to end, and a name cut to fit would
  // name another file: neither is what the content asked for.
  if (!fileName || !*fileName || std::strlen(fileName) >= size_t(OV_NEXT_CONTENT_SIZE)) return;
  OvRequestContentChange(fileName);
}

// ---------------------------------------------------------------------------
// "External Execution": "iiii" and three strings.

bool OvExternalExecutionNode::Read(OvStream& stream, OvChunkArena& arena) {
  int32_t format = 0;
  return stream.ReadLayout("iiii", &format, &options, &checkMask, &checkValue) &&
         stream.ReadString(file, &arena) && stream.ReadString(parameters, &arena) &&
         stream.ReadString(directory, &arena);
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
    const OvShellRequest request{file, parameters, directory && *directory ? directory : nullptr, OV_SHOW_NORMAL,
                                 errorUi};
    g_execute(g_shellContext, request);
  } else if (errorUi) {
    g_message(g_shellContext, "No executable file or object.", "External execution error");
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
