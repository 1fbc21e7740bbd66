# The Windows build (MinGW-w64): one program that runs on a Windows machine
# with nothing installed, its C and C++ runtimes linked in, so that it
# imports only Windows' own DLLs; the tests are linked the same way, so that
# Wine needs no MinGW DLLs either. Beside the hardening of Hardening.cmake,
# an image Windows loads anywhere (ASLR, with the full 64-bit range) and
# whose data never runs (DEP).
add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
