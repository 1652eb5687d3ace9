# fcvt_test: the self-test that prints ecvt_cross and fcvt_cross next to the
# platform's ecvt and fcvt. Its main lives in tool/ so that the library's *.cpp glob skips it.
# This file is included before qzbase_objects exists; linking to a target defined later is allowed.
add_executable(fcvt_test ${CMAKE_CURRENT_LIST_DIR}/tool/fcvt_test.cpp)
target_link_libraries(fcvt_test PRIVATE qzbase_objects)
