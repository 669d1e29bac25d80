set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BREVUN_WIN_ARCH i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl needs the IDL files of the system interfaces, which mingw-w64 does not ship (Debian's
# libwine-dev does), and stdole2.tlb of the target architecture (Debian's wine packages).
set(BREVUN_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
  "Folder of Wine's IDL files (oaidl.idl and the rest)")
set(BREVUN_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows CACHE PATH
  "Folder of Wine's i686 stdole2.tlb")
