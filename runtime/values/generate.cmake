# Build-time generation of the single-byte code page maps of the charset registry.
# Included from runtime/CMakeLists.txt before the library target exists: it builds the host generator,
# runs it into ${QZ_GENERATED_DIR} and appends the generated source to QZ_GENERATED_SOURCES.
find_program(QZ_RECODE_PROGRAM recode REQUIRED)

add_executable(qz_gen_sbcs_maps ${CMAKE_CURRENT_LIST_DIR}/gen/gen_sbcs_maps.cpp)
target_link_libraries(qz_gen_sbcs_maps PRIVATE ICU::uc)

set(QZ_SBCS_MAPS_CPP ${QZ_GENERATED_DIR}/charset_sbcs_maps.cpp)
add_custom_command(
  OUTPUT ${QZ_SBCS_MAPS_CPP}
  COMMAND qz_gen_sbcs_maps ${QZ_SBCS_MAPS_CPP} ${QZ_RECODE_PROGRAM}
  DEPENDS qz_gen_sbcs_maps ${CMAKE_CURRENT_LIST_DIR}/gen/gen_sbcs_maps.cpp
  COMMENT "Generating the single-byte code page maps from ICU and recode"
  VERBATIM)
list(APPEND QZ_GENERATED_SOURCES ${QZ_SBCS_MAPS_CPP})
include(${CMAKE_CURRENT_LIST_DIR}/collation_generate.cmake)
