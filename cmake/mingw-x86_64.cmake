set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BREVUN_WIN_ARCH x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# widl needs the IDL files of the system interfaces, which mingw-w64 does not ship (Debian's
# libwine-dev does), and stdole2.tlb of the target architecture (Debian's wine packages).
set(BREVUN_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
  "Folder of Wine's IDL files (oaidl.idl and the rest)")
set(BREVUN_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH
  "Folder of Wine's x86_64 stdole2.tlb")
