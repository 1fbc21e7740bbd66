# Builds the game for the browser and for Node.js with Debian's emscripten
# (packages emscripten and node-acorn). Debian's library cache is frozen and
# read-only; EM_CACHE (set by the web preset) names a writable cache of the
# build's own whose libraries are links to Debian's, so nothing is copied.
if(DEFINED ENV{EM_CACHE} AND NOT EXISTS "$ENV{EM_CACHE}/sysroot")
  file(MAKE_DIRECTORY "$ENV{EM_CACHE}")
  file(CREATE_LINK /usr/share/emscripten/cache/sysroot "$ENV{EM_CACHE}/sysroot" SYMBOLIC)
  file(COPY /usr/share/emscripten/cache/sysroot_install.stamp DESTINATION "$ENV{EM_CACHE}")
endif()

include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# The tests run under Node.js; a 3.1.6 build's .wasm loads in Node 20 only
# without its experimental fetch.
find_program(VALDORIA_NODE NAMES node nodejs REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VALDORIA_NODE} --no-experimental-fetch)
