# 32-bit Windows: the product.
set(BREVUN_WIN_ARCH i686)
set(BREVUN_DEFAULT_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
