# Install-time step of the Windows packages: every DLL the programs import
# that Windows does not provide itself is found in the MinGW-w64 folders and
# installed beside them; one found nowhere stops the install. Expects
# QUORVEL_EXECUTABLES, QUORVEL_OBJDUMP and QUORVEL_DLL_DIRS, set by the
# install code before it.

# The DLLs every Windows has (windows-system-dlls.txt, shared with
# scripts/package), matched in any letter case: import tables spell them as
# their linker did (KERNEL32.dll, msvcrt.dll).
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/windows-system-dlls.txt system_dlls)
set(system_dll_regexes "^(api|ext)-ms-")
foreach(dll IN LISTS system_dlls)
  set(either_case "")
  string(LENGTH "${dll}" length)
  math(EXPR last "${length} - 1")
  foreach(i RANGE ${last})
    string(SUBSTRING "${dll}" ${i} 1 c)
    string(TOUPPER "${c}" upper)
    if(c STREQUAL upper)
      string(APPEND either_case "${c}")
    else()
      string(APPEND either_case "[${c}${upper}]")
    endif()
  endforeach()
  string(REPLACE "." "\\." either_case "${either_case}")
  list(APPEND system_dll_regexes "^${either_case}$")
endforeach()

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND ${QUORVEL_OBJDUMP})
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${QUORVEL_EXECUTABLES}
  PRE_EXCLUDE_REGEXES ${system_dll_regexes}
  DIRECTORIES ${QUORVEL_DLL_DIRS}
  RESOLVED_DEPENDENCIES_VAR bundled
  UNRESOLVED_DEPENDENCIES_VAR missing)
if(missing)
  message(FATAL_ERROR "The Windows programs import DLLs that are neither Windows' own nor found in ${QUORVEL_DLL_DIRS}: ${missing}")
endif()
if(bundled)
  message(STATUS "Runtime libraries shipped beside the programs: ${bundled}")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}" TYPE SHARED_LIBRARY FILES ${bundled})
endif()
