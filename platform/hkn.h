#pragma once

// The host's kernel information-node interface. On this platform each node
// is a JSON Lines file under /run/hkn; tests swap the whole interface.

#include <cstdint>

struct HKN_ParamList;

extern const uint16_t HKN_NODE_system_log;
extern const uint16_t HKN_NODE_system_sysAlert;
extern const uint16_t HKN_NODE_system_progressTerm_progressText;
extern const uint16_t HKN_NODE_system_progressTerm_statusText;

int32_t HKN_CheckSig(uint32_t* our_signature, int32_t expected, uint32_t* their_signature);
HKN_ParamList* HKN_ParamListCreate(uint32_t outputs, uint32_t inputs);
int32_t HKN_ParamListAddString(HKN_ParamList* list, const char* text);
int32_t HKN_Set(uint32_t node, void* reserved, HKN_ParamList* list, void* output, uint32_t flags);
void HKN_ParamListDestroy(HKN_ParamList* list);

namespace dawnstep {

class HknInterface {
 public:
  virtual ~HknInterface() = default;
  virtual int32_t CheckSig(uint32_t* ours, int32_t expected, uint32_t* theirs) = 0;
  virtual HKN_ParamList* ParamListCreate(uint32_t outputs, uint32_t inputs) = 0;
  virtual int32_t ParamListAddString(HKN_ParamList* list, const char* text) = 0;
  virtual int32_t Set(uint32_t node, void* reserved, HKN_ParamList* list, void* output,
                      uint32_t flags) = 0;
  virtual void ParamListDestroy(HKN_ParamList* list) = 0;
};

// The file-backed node interface of this platform.
HknInterface& RealHkn();

// Routes the HKN_* calls to `hkn`; null restores the real interface.
void SetHknInterface(HknInterface* hkn);

// The node file a node identifier writes to (under the root), or empty for
// an unknown identifier.
const char* HknNodeFile(uint32_t node);

}  // namespace dawnstep
