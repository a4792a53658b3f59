# What differs between the 64-bit (x86-64) and the 32-bit (i686) build on the build's side,
# decided here once from the toolchain's processor; common/Architecture.h does the same for code.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(KESTRIX_ARCHITECTURE x64)            # the build's name in folders, zips and texts
  set(KESTRIX_BITS 64)
  set(KESTRIX_MANIFEST_ARCHITECTURE amd64) # processorArchitecture in a manifest
  set(KESTRIX_WINEARCH win64)
  set(KESTRIX_WINE_LOADERS wine64)
  set(KESTRIX_PE_FORMAT pei-x86-64)        # objdump's name for the image format
  set(KESTRIX_DRIVER_ENTRY DriverEntry)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(KESTRIX_ARCHITECTURE x86)
  set(KESTRIX_BITS 32)
  set(KESTRIX_MANIFEST_ARCHITECTURE x86)
  set(KESTRIX_WINEARCH win32)
  set(KESTRIX_WINE_LOADERS wine)
  set(KESTRIX_PE_FORMAT pei-i386)
  set(KESTRIX_DRIVER_ENTRY _DriverEntry@8)  # stdcall decoration of DriverEntry's 8 argument bytes
else()
  message(FATAL_ERROR "Kestrix builds for x86_64 and i686 only, not ${CMAKE_SYSTEM_PROCESSOR}")
endif()

# Debian keeps the loaders of both bitnesses in /usr/lib/wine; /usr/bin/wine picks the 32-bit one
# whenever it is installed, so each build names its own.
find_program(KESTRIX_WINE NAMES ${KESTRIX_WINE_LOADERS} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT KESTRIX_WINE)
  set(KESTRIX_WINE wine)
endif()
