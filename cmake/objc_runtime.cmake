# The platform's object runtime. On this system it is GCC's libobjc (Debian
# package libobjc-12-dev). Its headers live among GCC's own (stddef.h and the
# like), which another compiler must never see, so only their objc/ directory
# is offered, through a link in the build tree. Code that uses the runtime
# links the target bk_objc.
set(bk_objc_candidates "")
find_program(BK_GCC NAMES gcc-12 gcc)
if(BK_GCC)
  execute_process(COMMAND ${BK_GCC} -print-file-name=include
    OUTPUT_VARIABLE bk_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  list(APPEND bk_objc_candidates ${bk_gcc_include})
endif()
file(GLOB bk_gcc_includes LIST_DIRECTORIES true /usr/lib/gcc/*/*/include)
list(SORT bk_gcc_includes COMPARE NATURAL ORDER DESCENDING)
list(APPEND bk_objc_candidates ${bk_gcc_includes})

find_path(BK_OBJC_HEADERS objc/runtime.h PATHS ${bk_objc_candidates} NO_DEFAULT_PATH)
if(NOT BK_OBJC_HEADERS)
  message(FATAL_ERROR "objc/runtime.h not found: install libobjc-12-dev (scripts/setup.sh)")
endif()
get_filename_component(bk_objc_gcc_dir "${BK_OBJC_HEADERS}" DIRECTORY)
find_library(BK_OBJC_LIBRARY NAMES objc PATHS ${bk_objc_gcc_dir} NO_DEFAULT_PATH)
find_library(BK_OBJC_LIBRARY NAMES objc libobjc.so.4)
if(NOT BK_OBJC_LIBRARY)
  message(FATAL_ERROR "libobjc not found: install libobjc-12-dev (scripts/setup.sh)")
endif()

set(bk_objc_include "${CMAKE_BINARY_DIR}/objc-include")
file(MAKE_DIRECTORY "${bk_objc_include}")
file(CREATE_LINK "${BK_OBJC_HEADERS}/objc" "${bk_objc_include}/objc" SYMBOLIC)

add_library(bk_objc INTERFACE)
target_include_directories(bk_objc SYSTEM INTERFACE "${bk_objc_include}")
target_link_libraries(bk_objc INTERFACE "${BK_OBJC_LIBRARY}")

# Every program and library built from here on carries the leak checker's
# suppressions for the runtime (see objc_leak_suppressions.c): a process that
# loads libobjc, directly or through the stand-in core, reports no leak of it.
if(BK_SANITIZE STREQUAL "address" OR BK_FUZZ)
  add_library(bk_objc_leak_suppressions OBJECT "${CMAKE_CURRENT_LIST_DIR}/objc_leak_suppressions.c")
  link_libraries(bk_objc_leak_suppressions)
endif()
