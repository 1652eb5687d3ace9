# Build-time generation of the 48 weight tables of the mapped collations. Included
# from generate.cmake: builds the host generator, runs it into ${QZ_GENERATED_DIR} and appends the
# generated source to QZ_GENERATED_SOURCES. The tables are never committed; the derivation rule is
# described in gen/collation/gen_collation_tables.cpp.
find_program(QZ_RECODE_PROGRAM recode REQUIRED)

add_executable(qz_gen_collation_tables ${CMAKE_CURRENT_LIST_DIR}/gen/collation/gen_collation_tables.cpp)
target_link_libraries(qz_gen_collation_tables PRIVATE ICU::uc ICU::i18n)
# The generator runs on the build machine: keep sanitizers out of it.
target_compile_options(qz_gen_collation_tables PRIVATE -fno-sanitize=all)
target_link_options(qz_gen_collation_tables PRIVATE -fno-sanitize=all)

set(QZ_COLLATION_TABLES_CPP ${QZ_GENERATED_DIR}/collation_tables.cpp)
add_custom_command(
  OUTPUT ${QZ_COLLATION_TABLES_CPP}
  COMMAND qz_gen_collation_tables ${QZ_COLLATION_TABLES_CPP} ${QZ_RECODE_PROGRAM}
  DEPENDS qz_gen_collation_tables ${CMAKE_CURRENT_LIST_DIR}/gen/collation/gen_collation_tables.cpp
  COMMENT "Generating the collation weight tables from ICU and recode"
  VERBATIM)
list(APPEND QZ_GENERATED_SOURCES ${QZ_COLLATION_TABLES_CPP})
