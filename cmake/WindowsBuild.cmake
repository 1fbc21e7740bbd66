# The Windows build (MinGW-w64): one program that runs on a Windows machine
# with nothing installed, its C and C++ runtimes linked in, so that it
# imports only Windows' own DLLs; the tests are linked the same way, so that
# Wine needs no MinGW DLLs either.
add_link_options(-static)

# The hardening MinGW-w64 offers: stack protection, checked string and
# memory calls, and an image Windows may load anywhere (ASLR, with the full
# 64-bit range) whose data never runs (DEP).
# The checks live in GCC's libssp, which the link brings in with the flag.
add_compile_options(-fstack-protector-strong)
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
