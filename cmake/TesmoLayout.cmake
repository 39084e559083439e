# tesmo_add_child_directories(): adds every direct subfolder of the current
# source folder that has a CMakeLists.txt, in name order, so a new topic folder
# under tests/, bench/ or tools/ needs no registration.
function(tesmo_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# tesmo_requires_app(): the first line of a folder under tests/, bench/ or tools/ whose
# targets need Qt or the program's libraries; without the program
# (TESMO_BUILD_APP=OFF) the rest of that folder is skipped. A macro, so its return()
# leaves the calling CMakeLists.txt.
macro(tesmo_requires_app)
  if(NOT TESMO_BUILD_APP)
    return()
  endif()
endmacro()
