# Builds that can ship are hardened as Debian hardens its own packages (dpkg-buildflags with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all): position-independent executables, so that the
# program, its GOT and its stack land at random addresses; RELRO with immediate binding, so
# that every relocation is done before main and the GOT is read-only from then on; the stack
# protector; and glibc's fortified string and memory functions. The plugin parses untrusted
# UDP, TCP and DNS input as the monitoring user: none of this is optional for it.
#
# Every target of such a build gets them, the static libraries linked into the plugin as much
# as its main. The sanitizer and fuzz builds never ship and bring their own instrumentation;
# they are left as they are.
if(WIN32 OR BREVUN_SANITIZE OR BREVUN_FUZZ)
  # The Windows images need nothing here: GNU ld (since binutils 2.36) marks mingw-w64 DLLs and
  # programs DYNAMIC_BASE and NX_COMPAT, 64-bit ones HIGH_ENTROPY_VA too, and keeps their base
  # relocations; objdump -p shows it.
  return()
endif()

add_compile_options(-fPIE -fstack-protector-strong -Wformat -Werror=format-security)
# glibc fortifies only what the optimiser can see, and warns (an error here) without -O. A
# compiler that defines the macro already (some distributions' do) would warn of a redefinition.
add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
# -pie for programs only: the static libraries, built -fPIE, go into programs alone.
add_link_options("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-pie>" -Wl,-z,relro -Wl,-z,now)
