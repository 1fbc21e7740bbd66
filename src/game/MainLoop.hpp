#pragma once

namespace valdoria {

// The banner, then a battle for every "yes", then the summary. Returns the
// program's exit status.
int runMainLoop();

} // namespace valdoria
