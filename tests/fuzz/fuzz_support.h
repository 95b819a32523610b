#pragma once

#include <string>

namespace dawnstep::fuzzing {

// A fresh directory that DAWNSTEP_ROOT points at from the first call until
// the process exits, so no fixed path a target reaches is the machine's own.
const std::string& ScratchRoot();

// Ends the run with `what` when a property of the code under test fails;
// libFuzzer then keeps the input that broke it.
void Require(bool holds, const char* what);

// Empties the registry in place. Plugins are never freed, so a reset that
// retires the registry would keep every input's plugins alive; the targets
// free their own plugins and start each input on the same, emptied one.
void ClearRegistry();

}  // namespace dawnstep::fuzzing
