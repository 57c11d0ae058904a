# Cross build for 32-bit Windows (i686): the same programs for 32-bit
# Windows 7 and 10, and for anything older than a 64-bit processor.
set(KVR_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
