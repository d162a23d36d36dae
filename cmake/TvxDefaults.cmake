# Compile settings shared by every target of our own code.

get_filename_component(TVX_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

if(TVX_SANITIZE)
  set(TVX_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${TVX_SANITIZE_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

# tvx_defaults(<target>): warnings (as errors when TVX_WERROR) for our own code.
function(tvx_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wno-missing-field-initializers)
  if(TVX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 at -O3 reports -Wrestrict for plain std::string concatenation
    # (GCC bug 105651): keep the warning, do not fail on it.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-error=restrict)
    endif()
  endif()
endfunction()

# tvx_sources(<var> <dir>): every .cpp of a folder and of its sub-folders (a
# subsystem's folders by role), so that adding a file or a role folder to a
# subsystem needs no edit of its build file.
function(tvx_sources var dir)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${var} ${found} PARENT_SCOPE)
endfunction()

# tvx_library(<name> <dir>...): a static library of every .cpp below the folders.
# Consumers include our headers from the project root ("platform/Clock.h").
function(tvx_library name)
  set(all)
  foreach(dir ${ARGN})
    tvx_sources(srcs ${dir})
    list(APPEND all ${srcs})
  endforeach()
  if(NOT all)
    # A subsystem whose folder holds no source yet still links as a target.
    set(all ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${all} "")
  endif()
  add_library(${name} STATIC ${all})
  target_include_directories(${name} PUBLIC ${TVX_ROOT})
  tvx_defaults(${name})
endfunction()
