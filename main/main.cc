#include "plugin/plugin.h"

int main() {
  dawnstep::Plugin::registry();
  dawnstep::Plugin::LoadPlugins({}, 0);
  return 0;
}
