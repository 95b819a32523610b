#pragma once

#include "plugin/plugin.h"

namespace dawnstep {

// The built-in plugin: once no JSON or native plugin is pending, it tells
// the configuration store that auto-configuration has ended.
class EndAutoConf final : public Plugin {
 public:
  EndAutoConf();
  // Store failures are logged and never fail the activation.
  bool Activate(ActivateFlags flags) override;
};

}  // namespace dawnstep
