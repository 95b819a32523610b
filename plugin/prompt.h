#pragma once

// The interactive prompt itself is Plugin::DebugAction (plugin/plugin.h);
// this is what it reaches beyond its own terminal.

namespace dawnstep {

class PromptSystem {
 public:
  virtual ~PromptSystem() = default;
  // Shows virtual console `number`; every failure is silent.
  virtual void SwitchConsole(int number) = 0;
  // The program started as the troubleshooting shell.
  virtual const char* ShellPath() const = 0;
};

// The machine's console and shell.
PromptSystem& RealPromptSystem();

// Routes the prompt to `system`; null restores the real one. Tests use it
// so that they never switch the console of the machine running them.
void SetPromptSystem(PromptSystem* system);

}  // namespace dawnstep
