# The plug-ins the library tests load. (ODBC, for the SQL functions, is opened when first used:
# dynload/generate.cmake.)

# Test plug-ins, all from one source:
#   plugins/beside/libqzbase0-testlib.so   found beside the host module file (ident "beside")
#   plugins/path/libqzbase0-testlib.so     found by the loader's own search (ident "loader")
#   plugins/path/plain.so                  found as a plain file name (ident "plain")
#   plugins/beside/libqzbase0-nodescribe.so  exports no describe function
#   plugins/beside/libqzbase0-clash.so       two rows share an abbreviation
set(QZ_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)
set(QZ_TESTLIB_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/../tests/builtins/plugin/testlib.cpp)
function(qz_test_plugin target output dir ident)
  add_library(${target} SHARED EXCLUDE_FROM_ALL ${QZ_TESTLIB_SOURCE})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output} PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${QZ_PLUGIN_DIR}/${dir})
  # The public header only, and no link to the library: the plug-in binds to the copy of the
  # runtime already in the process, the shared library under qzsh or the objects linked into the
  # test binary, which exports its public symbols for it.
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_compile_definitions(${target} PRIVATE QZ_TESTLIB_IDENT="${ident}" ${ARGN})
endfunction()
qz_test_plugin(qzbase0-testlib libqzbase0-testlib beside beside)
qz_test_plugin(qzbase0-testlib-loader libqzbase0-testlib path loader)
qz_test_plugin(qzbase0-testlib-plain plain path plain)
qz_test_plugin(qzbase0-testlib-nodescribe libqzbase0-nodescribe beside nodescribe QZ_TESTLIB_NO_DESCRIBE=1)
qz_test_plugin(qzbase0-testlib-clash libqzbase0-clash beside clash QZ_TESTLIB_CLASH=1)

# The library tests find the plug-ins by these paths; the loader's search reaches plugins/path
# through the test binary's run path (an old-style RPATH, which also serves dlopen calls made by
# the runtime library).
set_property(GLOBAL PROPERTY QZ_PLUGIN_DIR ${QZ_PLUGIN_DIR})
function(qz_builtins_test_setup)
  get_property(QZ_PLUGIN_DIR GLOBAL PROPERTY QZ_PLUGIN_DIR)
  if(TARGET test_builtins)
    add_dependencies(test_builtins qzbase0-testlib qzbase0-testlib-loader qzbase0-testlib-plain
      qzbase0-testlib-nodescribe qzbase0-testlib-clash)
    target_compile_definitions(test_builtins PRIVATE QZ_PLUGIN_DIR="${QZ_PLUGIN_DIR}")
    target_link_options(test_builtins PRIVATE "LINKER:--disable-new-dtags")
    set_property(TARGET test_builtins PROPERTY ENABLE_EXPORTS ON)
    set_property(TARGET test_builtins APPEND PROPERTY BUILD_RPATH ${QZ_PLUGIN_DIR}/path)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qz_builtins_test_setup)
