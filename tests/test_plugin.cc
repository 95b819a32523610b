#include "tests/test_plugin.h"

namespace dawnstep::testing {

TestPlugin::TestPlugin(const std::string& name, const std::vector<std::string>& provides,
                       const std::vector<std::string>& requiredTags, Work work)
    : Plugin(name, provides, requiredTags), work(std::move(work)) {
  Register();
}

bool TestPlugin::Activate(ActivateFlags flags) {
  ++activations;
  return work ? work(flags) : true;
}

}  // namespace dawnstep::testing
