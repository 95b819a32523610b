#include "plugin/end_autoconf.h"

#include <exception>
#include <ostream>

#include "log/kernel_log.h"
#include "platform/config_store.h"

namespace dawnstep {
namespace {

template <typename Call>
void Attempt(Call call, const char* failure) {
  try {
    call();
  } catch (const std::exception& e) {
    KernelLog() << failure << e.what() << std::endl;
  }
}

}  // namespace

EndAutoConf::EndAutoConf() : Plugin("end-autoconf", {kBuiltinKind}, {kJsonKind, kNativeKind}) {
  Register();
}

bool EndAutoConf::Activate(ActivateFlags flags) {
  if ((flags & DryRun) != 0) return true;
  Attempt([] { OrvoConfigStore::EndAutoConf(); }, "Failed to end autoconf: ");
  Attempt([] { OrvoConfigStore::CleanupBootState(); }, "Failed to cleanup boot state: ");
  Attempt([] { OrvoConfigStore::EnableMgmtdNotification(true); },
          "Error settingup configstore mgmtd notifications: ");
  return true;
}

void Plugin::LoadBuiltins() { new EndAutoConf(); }

}  // namespace dawnstep
