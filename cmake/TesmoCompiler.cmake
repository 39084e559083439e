# Warning and sanitizer flags shared by every target of the tree.

add_library(tesmo_warnings INTERFACE)
target_compile_options(tesmo_warnings INTERFACE -Wall -Wextra)
if(TESMO_WERROR)
  target_compile_options(tesmo_warnings INTERFACE -Werror)
endif()

if(TESMO_ASAN AND TESMO_TSAN)
  message(FATAL_ERROR "TESMO_ASAN and TESMO_TSAN cannot be combined")
endif()

if(TESMO_ASAN)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # Cheap bounds and precondition checks in the standard containers as well.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  # GCC's flow analysis sees through the extra sanitizer checks poorly and reports
  # uninitialized members inside libstdc++'s own <regex> and <functional> code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # clang links its static runtime into programs only, which leaves the SDK library
    # (and a C program using it) without the runtime's C++ parts. Everything shares the
    # runtime's shared build instead, found through the run path.
    execute_process(
      COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so
      OUTPUT_VARIABLE TESMO_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(TESMO_ASAN_RUNTIME_DIR ${TESMO_ASAN_RUNTIME} DIRECTORY)
    add_link_options(-shared-libasan "LINKER:-rpath,${TESMO_ASAN_RUNTIME_DIR}")
    # The same for programs built outside the tree against this build's library.
    set(TESMO_SANITIZER_LINK_FLAGS "-shared-libasan -Wl,-rpath,${TESMO_ASAN_RUNTIME_DIR}")
    # Third-party code with a known report, excluded from that one check only.
    add_compile_options(
      -fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/../tests/support/sanitizers/ubsan.ignorelist)
  endif()
endif()
if(TESMO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Environment for programs run from the tree in sanitizer builds (the tests and
# build-time tools): suppressions for system libraries, and full stacks on
# allocation so that those suppressions can see the library frames that Qt,
# built without frame pointers, hides from the fast unwinder.
set(TESMO_SANITIZER_DIR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/sanitizers)
cmake_path(NORMAL_PATH TESMO_SANITIZER_DIR)
set(TESMO_SANITIZER_ENV "")
if(TESMO_ASAN)
  set(TESMO_SANITIZER_ENV
    "ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_stack_use_after_return=1"
    "LSAN_OPTIONS=suppressions=${TESMO_SANITIZER_DIR}/lsan.supp"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
if(TESMO_TSAN)
  set(TESMO_SANITIZER_ENV
    "TSAN_OPTIONS=suppressions=${TESMO_SANITIZER_DIR}/tsan.supp:second_deadlock_stack=1")
endif()

# Adds the warning flags to a target: tesmo_target_warnings(target).
function(tesmo_target_warnings target)
  target_link_libraries(${target} PRIVATE tesmo_warnings)
endfunction()
