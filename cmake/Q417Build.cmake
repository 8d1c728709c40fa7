# Shared build settings: warnings, sanitizers, Win32 defines, static runtime, GoogleTest.

function(q417_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${Q417_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${Q417_WERROR}>:-Werror>)
  endif()
endfunction()

# Sanitizer builds (the native-asan, native-tsan and fuzz presets, built with clang): every
# target of the tree, GoogleTest included, is compiled with -fsanitize=Q417_SANITIZE, and a report
# ends the program with a failure instead of letting it go on. The standard library's own checks
# are on too: bounds assertions everywhere, and under ASan the vector's unused capacity counts as
# out of bounds.
set(Q417_SANITIZE "" CACHE STRING "Sanitizers for every target, as -fsanitize= takes them (address,undefined or thread)")
option(Q417_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(Q417_SANITIZE OR Q417_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "Sanitizer and fuzz builds need clang (the native-asan, native-tsan and fuzz presets use clang-14)")
  endif()
  if(Q417_SANITIZE)
    add_compile_options(-fsanitize=${Q417_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${Q417_SANITIZE})
  endif()
  if(Q417_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link) # coverage for the fuzzer in every library
  endif()
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  if(",${Q417_SANITIZE}," MATCHES ",address,")
    add_compile_definitions(_GLIBCXX_SANITIZE_VECTOR)
  endif()
endif()

# The options that make every sanitizer report fatal, compiled into a sanitized program so that
# they hold however it is started (ctest, by hand, a fuzzer); the environment may add to them.
function(q417_sanitizer_options target)
  if(Q417_SANITIZE)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/sanitizers/SanitizerOptions.cpp)
  endif()
endfunction()

# Settings for every target of the Win32 shell. WIDE_ENTRY: a program whose entry point is
# wmain or wWinMain, which MinGW's start-up code calls only when told (MSVC finds it itself).
function(q417_win32_target target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "WIDE_ENTRY" "" "")
  q417_warnings(${target})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                               _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  if(MINGW)
    # Only system DLLs and our own at run time.
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    if(arg_WIDE_ENTRY)
      target_link_options(${target} PRIVATE -municode)
    endif()
  endif()
endfunction()

# Installs a program or DLL that ships into bin/ (component "programs"), where each program finds
# the DLLs it loads beside itself. A DLL's import library is for the build only and stays out.
function(q417_install_shipped target)
  install(TARGETS ${target} RUNTIME DESTINATION bin COMPONENT programs)
endfunction()

# An import library made from a .def file, for a DLL that a program links at load time
# whichever implementation of it sits beside the program.
function(q417_import_library name def)
  set(out ${CMAKE_BINARY_DIR}/importlibs/${CMAKE_IMPORT_LIBRARY_PREFIX}${name}${CMAKE_IMPORT_LIBRARY_SUFFIX})
  if(MSVC)
    set(cmd ${CMAKE_AR} /nologo /def:${def} /out:${out} /machine:x64)
  else()
    if(NOT CMAKE_DLLTOOL)
      find_program(CMAKE_DLLTOOL NAMES ${Q417_MINGW_PREFIX}dlltool dlltool REQUIRED)
    endif()
    set(cmd ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${name}.dll --output-lib ${out})
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/importlibs
    COMMAND ${cmd}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${name}_importlib DEPENDS ${out})
  add_library(${name}::import UNKNOWN IMPORTED GLOBAL)
  set_target_properties(${name}::import PROPERTIES IMPORTED_LOCATION ${out})
  add_dependencies(${name}::import ${name}_importlib)
endfunction()

macro(q417_add_googletest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    if(EXISTS /usr/src/googletest/CMakeLists.txt)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    else()
      find_package(GTest REQUIRED)
      add_library(gtest ALIAS GTest::gtest)
      add_library(gtest_main ALIAS GTest::gtest_main)
    endif()
  endif()
endmacro()

# The names and the version that the programs' version resources carry and the packages state
# (Q417Version.h, generated): the MSI's Manufacturer and ProductName are these too.
set(Q417_COMPANY "Q417 project")
set(Q417_PRODUCT "${PROJECT_DESCRIPTION}")

# The project version and names for a target's version resource.
function(q417_version_resource target)
  set(header ${CMAKE_BINARY_DIR}/generated/Q417Version.h)
  file(CONFIGURE OUTPUT ${header} CONTENT [[
#define Q417_VERSION_COMMA @PROJECT_VERSION_MAJOR@,@PROJECT_VERSION_MINOR@,@PROJECT_VERSION_PATCH@,0
#define Q417_VERSION_TEXT "@PROJECT_VERSION@"
#define Q417_COMPANY_TEXT "@Q417_COMPANY@"
#define Q417_PRODUCT_TEXT "@Q417_PRODUCT@"
]] @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
