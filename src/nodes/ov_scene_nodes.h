// Node types that act on what surrounds the scene when their flag test
// passes: the active camera, the running content file and outside programs.
// All three are shared-controller nodes acting in animate.
#pragma once

#include <cstdint>
#include "ov_aniset.h"
#include "ov_node_params.h"
#include "ov_node_type.h"

inline constexpr OvTypeId OV_NODE_CHANGE_CAMERA{0, 9100};
inline constexpr OvTypeId OV_NODE_CHANGE_SCENE{0, 7030};
inline constexpr OvTypeId OV_NODE_EXTERNAL_EXECUTION{0, 30000};

// Controller IDs.
inline constexpr int32_t OV_ACID_CHANGE_CAMERA = 1100;
inline constexpr int32_t OV_ACID_CHANGE_SCENE = 760;

class OvSceneNodeBase : public OvSharedCtrlNode {
 public:
  static constexpr int32_t kFormat = 100;
};

// "Change Camera": makes this clump (ID -1) or the clump of that ID in the
// node's database the scene's camera.
class OvChangeCameraNode : public OvSceneNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_CHANGE_CAMERA; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  void Bind(OvDatabase* database) override;
  bool FromValues(const OvParamValues& v);

  int32_t GetCtrlId() const override { return OV_ACID_CHANGE_CAMERA; }
  void Animate(OvClump* clump, int32_t time) override;

  uint32_t checkMask = 0, checkValue = 0;
  int32_t cameraId = -1;
  int32_t serial = -1;  // the node's database; -1 before binding
};

// "Change Scene": asks the application to switch to another content file
// after the frame.
class OvChangeSceneNode : public OvSceneNodeBase {
 public:
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_CHANGE_SCENE; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  int32_t GetCtrlId() const override { return OV_ACID_CHANGE_SCENE; }
  void Animate(OvClump* clump, int32_t time) override;

  uint32_t checkMask = 0, checkValue = 0;
  char* fileName = nullptr;  // arena; null when the block has none
};

// "External Execution": starts a program or opens a document.
class OvExternalExecutionNode : public OvSceneNodeBase {
 public:
  static constexpr uint32_t kErrorDialog = 0x1;
  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_EXTERNAL_EXECUTION; }
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);

  void Animate(OvClump* clump, int32_t time) override;

  uint32_t options = kErrorDialog;
  uint32_t checkMask = 0, checkValue = 0;
  char* file = nullptr;  // arena strings; null when absent
  char* parameters = nullptr;
  char* directory = nullptr;
  bool refusalTraced = false;  // the refusal of untrusted content is told once
  bool errorShown = false;     // a failure shows its box once per node, not every frame
};

// ---------------------------------------------------------------------------
// The operating-system side of "External Execution", replaceable (tests,
// other front ends).

struct OvExecRequest {
  const char* file;        // never null or empty
  const char* parameters;  // may be null
  const char* directory;   // null when absent or empty
  const char* baseFolder;  // the running content's folder
  bool errorUi;            // failures may be reported to the user
};

// True when the program or document was started.
using OvExecFn = bool (*)(void* context, const OvExecRequest& request);
using OvExecMessageFn = void (*)(void* context, const char* text, const char* caption);

// Installs the handlers (null restores the default one of that kind). The
// default starts the program through OvStartProgram (platform).
void OvSetExecHandlers(OvExecFn execute, OvExecMessageFn message, void* context);

// Whether the running content may start programs (the board's own content,
// or the user allowed it), and the folder its names are relative to. Set by
// the application on every content load; nothing is started before.
void OvSetExecPolicy(bool allowed, const char* contentFolder);

// The descriptor of one of the types above (named `name`), or null for any
// other pair.
OvNodeType* OvSceneNodeTypeCreate(const OvTypeId& pair, const char* name);
