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
endif()
if(TESMO_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Adds the warning flags to a target: tesmo_target_warnings(target).
function(tesmo_target_warnings target)
  target_link_libraries(${target} PRIVATE tesmo_warnings)
endfunction()
