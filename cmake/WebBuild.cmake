# The game as WebAssembly, two programs over the one core:
# - console/valdoria.js, for Node.js on the real file system: the console
#   game, which the tests play (node build/web/console/valdoria.js);
# - the page's program, site/valdoria.js and site/valdoria.wasm, with the
#   page's own files from web/: the whole site, served as it is.
# Each has its own party guard: files locked on the console, the browser's
# locks and IndexedDB on the page.

add_library(valdoria_posix_guard STATIC src/save/PartyGuardPosix.cpp)
target_link_libraries(valdoria_posix_guard PUBLIC valdoria_core)
target_link_libraries(valdoria PRIVATE valdoria_posix_guard)
set_target_properties(valdoria PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/console)
target_link_options(valdoria PRIVATE -sNODERAWFS=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1)

set(site ${CMAKE_BINARY_DIR}/site)
add_executable(valdoria_page src/WebMain.cpp src/base/ConsoleWeb.cpp src/save/PartyGuardWeb.cpp)
target_link_libraries(valdoria_page PRIVATE valdoria_core)
set_target_properties(valdoria_page PROPERTIES OUTPUT_NAME valdoria RUNTIME_OUTPUT_DIRECTORY ${site})
# Asyncify lets the game's blocking reads, and the party guard, wait for the
# page; the page makes a fresh instance for every run (MODULARIZE), and one
# to take uploaded files through the game's own load and save. The heroes'
# store in IndexedDB is plain script, which the Closure Compiler leaves as
# it is (extern-pre-js), shared by the instances and the page's download.
# Its script goes through the Closure Compiler of emscripten 3.1.6's time,
# from npm (package.json; Debian's is too old): half the size.
if(NOT EXISTS "$ENV{EM_CLOSURE_COMPILER}")
  message(FATAL_ERROR "The Closure Compiler is missing: run 'npm ci' in ${PROJECT_SOURCE_DIR} "
                      "and configure with the web preset.")
endif()
# Scripts go out without their comment lines and indents: the site has
# 400 KB. The service worker's gets the release and the site's files too.
function(copy_script source destination)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REGEX REPLACE "(^|\n) *//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\n +" "\n" text "${text}")
  file(WRITE ${destination} "${text}")
endfunction()
set(store ${CMAKE_BINARY_DIR}/HeroStoreWeb.js)
copy_script(${PROJECT_SOURCE_DIR}/src/save/HeroStoreWeb.js ${store})
target_link_options(valdoria_page PRIVATE
  --closure=1
  -sASYNCIFY=1
  -sMODULARIZE=1
  -sEXPORT_NAME=Valdoria
  -sENVIRONMENT=web
  -sINVOKE_RUN=0
  -sMALLOC=emmalloc
  --extern-pre-js=${store}
  -sEXPORTED_FUNCTIONS=_main,_valdoria_heroFiles,_valdoria_takeUpload,_valdoria_keepUploads
  -sEXPORTED_RUNTIME_METHODS=callMain,ccall)
set_target_properties(valdoria_page PROPERTIES LINK_DEPENDS ${store})

# The site's files, as the service worker caches them for offline play.
set(site_files index.html valdoria.css valdoria-page.js valdoria.js valdoria.wasm valdoria.webmanifest
               valdoria.svg valdoria-192.png valdoria-512.png)
foreach(file index.html valdoria.css valdoria.webmanifest valdoria.svg valdoria-192.png valdoria-512.png)
  configure_file(web/${file} ${site}/${file} COPYONLY)
endforeach()
# The page's script goes through the Closure Compiler as the program's does,
# its names and structure kept (SIMPLE): a third of its size.
add_custom_command(
  OUTPUT ${site}/valdoria-page.js
  COMMAND $ENV{EM_CLOSURE_COMPILER} --compilation_level SIMPLE --language_in ECMASCRIPT_2021
          --language_out ECMASCRIPT_2020 --emit_use_strict --js ${PROJECT_SOURCE_DIR}/web/valdoria-page.js
          --js_output_file ${site}/valdoria-page.js
  DEPENDS ${PROJECT_SOURCE_DIR}/web/valdoria-page.js
  VERBATIM)
add_custom_target(valdoria_page_script ALL DEPENDS ${site}/valdoria-page.js)
# Each release's cache is its own: a new version replaces the old one whole.
list(JOIN site_files "\",\"" site_files_listed)
copy_script(${PROJECT_SOURCE_DIR}/web/valdoria-sw.js ${site}/valdoria-sw.js)

# The web package (cpack --preset web): a zip of the site, one folder to put
# on any static web server.
list(TRANSFORM site_files PREPEND ${site}/ OUTPUT_VARIABLE site_paths)
install(FILES ${site_paths} ${site}/valdoria-sw.js DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-web)
include(CPack)
