# Compiler settings shared by every target of the project.
option(NV_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(NV_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
option(NV_CRASH_POINTS "Named crash points in the flat driver's write paths (kill tests)" OFF)

set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

if(NV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings for our own code (third-party headers are included as system headers).
function(nv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-address-of-packed-member)
endfunction()

# nv_library(name [SHARED|STATIC] SOURCES ... DEPS ...)
function(nv_library name)
  cmake_parse_arguments(A "SHARED;STATIC;MODULE" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  set(kind STATIC)
  if(A_SHARED)
    set(kind SHARED)
  elseif(A_MODULE)
    set(kind MODULE)
  endif()
  add_library(${name} ${kind} ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  nv_warnings(${name})
endfunction()

# nv_test(name SOURCES ... DEPS ... [LABELS ...]): one GoogleTest executable.
function(nv_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  nv_warnings(${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  # Two variables, one per property (a ';' would split the property list).
  set(props TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "NVRUN_PROFILE=${CMAKE_BINARY_DIR}/test-profile.ini"
    ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen")
  if(A_LABELS)
    list(APPEND props LABELS "${A_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
