#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plugin/plugin.h"

namespace dawnstep::testing {

// A plugin whose work is a callback, registered on construction like every
// real plugin. Tests keep ownership: the registry only points at it.
class TestPlugin final : public Plugin {
 public:
  using Work = std::function<bool(ActivateFlags)>;

  TestPlugin(const std::string& name, const std::vector<std::string>& provides,
             const std::vector<std::string>& requiredTags, Work work = nullptr);

  bool Activate(ActivateFlags flags) override;

  int activations = 0;

 private:
  Work work;
};

}  // namespace dawnstep::testing
