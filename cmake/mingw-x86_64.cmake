# 64-bit Windows: the same component for 64-bit hosts.
set(BREVUN_WIN_ARCH x86_64)
set(BREVUN_DEFAULT_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
