#pragma once

// The host configuration store's control calls. Each throws an exception of
// the standard family when it fails.
namespace OrvoConfigStore {

void EndAutoConf();
void CleanupBootState();
void EnableMgmtdNotification(bool enable);

}  // namespace OrvoConfigStore

namespace dawnstep {

// What the store calls do; on this platform each appends one line to
// /var/lib/corvane/configstore.log under the root.
class ConfigStore {
 public:
  virtual ~ConfigStore() = default;
  virtual void EndAutoConf() = 0;
  virtual void CleanupBootState() = 0;
  virtual void EnableMgmtdNotification(bool enable) = 0;
};

ConfigStore& RealConfigStore();

// Routes the OrvoConfigStore calls to `store`; null restores the real one.
void SetConfigStore(ConfigStore* store);

}  // namespace dawnstep
