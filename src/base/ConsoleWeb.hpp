#pragma once

namespace valdoria {

// The page's console: the game's reads wait for the line the player enters
// on the page (or for the page's end of input), and everything written is
// handed to the page at each flush, so a prompt shows before the read that
// follows it. Needs the page's program (emscripten's Asyncify).
void useWebConsole();

} // namespace valdoria
