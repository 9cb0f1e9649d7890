// The "Script" behaviour node (0, 2050): a check-flag pair, the name of a
// global script table and the body of the table constructor that becomes
// each controller's instance table. The controller itself belongs to the
// script host, which installs its factory when it starts; without a host
// the node yields nothing.
#pragma once

#include <cstdint>

#include "ov_node_params.h"

class OvAniCtrl;
class OvDatabase;

inline constexpr OvTypeId OV_NODE_SCRIPT{0, 2050};

class OvScriptNode : public OvDbNode {
 public:
  static constexpr int32_t kFormat = 100;

  void GetTypeId(OvTypeId& out) const override { out = OV_NODE_SCRIPT; }
  // "iiii" (format, mask, value, reserved) then the script name and the
  // init text as u16-length strings.
  bool Read(OvStream& stream, OvChunkArena& arena) override;
  bool Write(OvStream& stream) const override;
  bool FromValues(const OvParamValues& v);
  void* GetController(void* context) override;
  void Bind(OvDatabase* database) override { m_database = database; }

  uint32_t checkMask = 0, checkValue = 0;
  int32_t reserved = 0;
  char* scriptName = nullptr;  // arena; null when the record's text is empty
  char* initValue = nullptr;   // arena; the body of "return { ... }"
  // The script applied a set holding this node and was refused (traced once).
  mutable bool applyRefusedTraced = false;
  OvDatabase* database() const { return m_database; }

 private:
  OvDatabase* m_database = nullptr;
};

// The host's controller factory: null while no host runs.
using OvScriptCtrlFactory = OvAniCtrl* (*)(OvScriptNode& node);
void OvSetScriptCtrlFactory(OvScriptCtrlFactory factory);

// Descriptor of the type (named `name`), or null for another pair.
OvNodeType* OvScriptNodeTypeCreate(const OvTypeId& pair, const char* name);
