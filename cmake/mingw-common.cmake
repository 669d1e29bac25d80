# What the two mingw-w64 toolchain files share. The file that includes this one sets
# BREVUN_WIN_ARCH (the compilers' prefix) and BREVUN_DEFAULT_STDOLE_DIR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${BREVUN_WIN_ARCH})
set(CMAKE_C_COMPILER ${BREVUN_WIN_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${BREVUN_WIN_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${BREVUN_WIN_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BREVUN_WIN_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl needs the IDL files of the system interfaces, which mingw-w64 does not ship (Debian's
# libwine-dev does), and stdole2.tlb of the target architecture (Debian's wine packages).
set(BREVUN_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
  "Folder of Wine's IDL files (oaidl.idl and the rest)")
set(BREVUN_STDOLE_DIR ${BREVUN_DEFAULT_STDOLE_DIR} CACHE PATH
  "Folder of Wine's stdole2.tlb for ${BREVUN_WIN_ARCH}")
