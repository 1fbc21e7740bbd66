# Debian's hardening, for the builds a player runs: the release preset, the
# package made from it and the benchmarks (VALDORIA_HARDENING).
#
# Where dpkg-buildflags exists (and the build is for this machine), its flags
# with every hardening feature on, less its -g and -O: the build type decides
# optimisation and debug information. Each protection it does not give (an
# older dpkg has no stack clash or control-flow protection), and all of them
# elsewhere, are added when the compiler and linker take them. Fortify needs
# optimisation, so it comes with the optimised build types only. Source paths
# are mapped to ".", so the program holds no path of the clone it was built
# in.
include_guard(GLOBAL)

option(VALDORIA_HARDENING "Build with Debian's hardening flags" OFF)
if(NOT VALDORIA_HARDENING)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH valdoria_root)
set(valdoria_compile "")
set(valdoria_fortify "")
set(valdoria_link "")

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT CMAKE_CROSSCOMPILING)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # Its own path mapping is left out: it maps the working directory, and
    # a root with a blank in it would not survive its output.
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env
              "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
              ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    foreach(flag IN LISTS flags)
      if(kind STREQUAL "LDFLAGS")
        list(APPEND valdoria_link ${flag})
      elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
        list(APPEND valdoria_fortify ${flag})
      elseif(NOT flag MATCHES "^-(g|O)")
        list(APPEND valdoria_compile ${flag})
      endif()
    endforeach()
  endforeach()
endif()

# Adds a protection not given yet (matched by its pattern) to the list named
# by destination, when the compiler or linker takes it beside the others.
function(valdoria_add_protection destination pattern flag)
  list(JOIN ${destination} " " CMAKE_REQUIRED_FLAGS)
  if(CMAKE_REQUIRED_FLAGS MATCHES "${pattern}")
    return()
  endif()
  string(MAKE_C_IDENTIFIER "VALDORIA_HAS${flag}" result)
  if(destination STREQUAL "valdoria_link")
    check_linker_flag(CXX "${flag}" ${result})
  else()
    check_cxx_compiler_flag("${flag}" ${result})
  endif()
  if(${result})
    set(${destination} ${${destination}} ${flag} PARENT_SCOPE)
  endif()
endfunction()

valdoria_add_protection(valdoria_compile "-fstack-protector" -fstack-protector-strong)
valdoria_add_protection(valdoria_compile "-fstack-clash-protection" -fstack-clash-protection)
valdoria_add_protection(valdoria_compile "-fcf-protection" -fcf-protection)
valdoria_add_protection(valdoria_compile "-Wformat( |$)" -Wformat)
valdoria_add_protection(valdoria_compile "-Werror=format-security" -Werror=format-security)
# Every compiler that builds C++20 takes it.
list(APPEND valdoria_compile "-ffile-prefix-map=${valdoria_root}=.")
if(NOT valdoria_fortify)
  set(valdoria_fortify -D_FORTIFY_SOURCE=2)
endif()
if(NOT WIN32)
  valdoria_add_protection(valdoria_link "relro" -Wl,-z,relro)
  valdoria_add_protection(valdoria_link "-z,now" -Wl,-z,now)
endif()

add_compile_options(${valdoria_compile}
                    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${valdoria_fortify}>")
# The stack protector's support library, where the system needs one.
list(FILTER valdoria_compile INCLUDE REGEX "^-fstack-protector")
add_link_options(${valdoria_compile} ${valdoria_link})

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
