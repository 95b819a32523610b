#include "platform/tolvar/command_records.h"

namespace Tolvar::AutoCli {

std::shared_ptr<CommandInput> CommandInput::New() { return std::make_shared<CommandInput>(); }

std::shared_ptr<CommandOutput> CommandOutput::New() { return std::make_shared<CommandOutput>(); }

}  // namespace Tolvar::AutoCli
