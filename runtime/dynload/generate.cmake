# ODBC, libcrypto and ICU's internationalisation library are opened when first used
# (loaded_library.h), not linked: the build still requires them, and the sources learn the name the
# loader knows each one by.
find_library(ODBC_LIB odbc REQUIRED)
function(qz_library_soname library out)
  get_filename_component(real ${library} REALPATH)
  get_filename_component(name ${real} NAME)
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${real} OUTPUT_VARIABLE dump ERROR_QUIET)
  if(dump MATCHES "SONAME +([^ \t\r\n]+)")
    set(name ${CMAKE_MATCH_1})
  endif()
  set(${out} ${name} PARENT_SCOPE)
endfunction()
qz_library_soname(${ODBC_LIB} QZ_ODBC_SONAME)
qz_library_soname(${OPENSSL_CRYPTO_LIBRARY} QZ_CRYPTO_SONAME)
qz_library_soname(${ICU_I18N_LIBRARY} QZ_ICU_I18N_SONAME)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/dynload/odbc.cpp PROPERTIES
  COMPILE_DEFINITIONS "QZ_ODBC_LIBRARY=\"${QZ_ODBC_SONAME}\"")
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/dynload/crypto.cpp PROPERTIES
  COMPILE_DEFINITIONS "QZ_CRYPTO_LIBRARY=\"${QZ_CRYPTO_SONAME}\"")
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/dynload/icu_i18n.cpp PROPERTIES
  COMPILE_DEFINITIONS "QZ_ICU_I18N_LIBRARY=\"${QZ_ICU_I18N_SONAME}\"")
