#include "analyze/blame.h"

#include <algorithm>
#include <cstdio>

namespace dawnstep::analyze {

void WriteBlame(const BootProfile& profile, std::ostream& out) {
  std::vector<const Activation*> order;
  for (const Activation& activation : profile.activations) order.push_back(&activation);
  std::stable_sort(order.begin(), order.end(), [](const Activation* a, const Activation* b) {
    if (a->Duration() != b->Duration()) return a->Duration() > b->Duration();
    return a->name < b->name;
  });
  for (const Activation* activation : order) {
    char millis[48];
    snprintf(millis, sizeof millis, "%10s", FormatMillis(activation->Duration()).c_str());
    out << millis << " ms  " << activation->name << '\n';
  }
}

}  // namespace dawnstep::analyze
