# Cross build for 64-bit Windows (x86_64).
set(KVR_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
