# Cross build for 32-bit Windows with MinGW-w64 (posix threads). SSE2
# arithmetic keeps float and double rounding exact: the adjustment and the
# thumbnail scaler depend on it, and x87 excess precision would change results.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
