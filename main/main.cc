#include "plugin/plugin.h"

int main() {
  dawnstep::Plugin::OpenRunOnceRecord();
  dawnstep::Plugin::LoadPlugins({}, 0);
  return 0;
}
