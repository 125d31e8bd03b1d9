// The one pass that a start of the stub makes.
#pragma once

namespace quillmere {

// Puts the folder in order, starts the launcher or the client, waits for it and
// returns the exit code for the process. The only place that shows messages.
// `relaunched`: this stub was started by one that replaced itself with it.
int RunStartupSequence(bool relaunched);

}  // namespace quillmere
