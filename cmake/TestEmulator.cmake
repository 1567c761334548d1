# The test programs, and the project's programs that the tests start,
# normally run on the build host itself.  Where the compiler's flags make
# programs the host cannot execute (a 32-bit x86 build on a 64-bit kernel
# without 32-bit support), they run under ZULU_TEST_EMULATOR instead; the
# i386 preset names qemu-i386.  The emulator becomes
# CMAKE_CROSSCOMPILING_EMULATOR, which CTest puts before every test
# program; zulu_program_path (tests/) wraps the programs the tests start.
set(ZULU_TEST_EMULATOR "" CACHE STRING
    "Runs the test programs where the build host cannot run them itself (such as qemu-i386)")
option(ZULU_TEST_EMULATOR_ALWAYS "Run the test programs under ZULU_TEST_EMULATOR even where the host can run them" OFF)

# Whether a program built with the project's flags runs here.
function(zulu_host_runs_programs var)
  try_run(runs builds SOURCE_FROM_CONTENT probe.c "int main(void) { return 0; }" NO_CACHE)
  if(builds AND runs EQUAL 0)
    set(${var} TRUE PARENT_SCOPE)
  else()
    set(${var} FALSE PARENT_SCOPE)
  endif()
endfunction()

if(ZULU_TEST_EMULATOR AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(host_runs FALSE)
  if(NOT ZULU_TEST_EMULATOR_ALWAYS)
    zulu_host_runs_programs(host_runs)
  endif()
  if(NOT host_runs)
    find_program(emulator_path ${ZULU_TEST_EMULATOR} NO_CACHE)
    if(NOT emulator_path)
      message(FATAL_ERROR "The tests need ${ZULU_TEST_EMULATOR} to run here (Debian package qemu-user).")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator_path})
    message(STATUS "Test programs run under ${emulator_path}")
  endif()
endif()

# Recorded for scripts that run programs of this build (.ci/consumers).
set(ZULU_RUN_UNDER "${CMAKE_CROSSCOMPILING_EMULATOR}" CACHE INTERNAL "Emulator the programs of this build run under")
