# Application shell: settings store, descriptor, helper servers, autostart,
# crash handler, hand-overs. The helper-server tests bind the fixed ports
# 27272 and 17171 (on their own loopback address) and share a resource lock.
file(GLOB APP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp)
add_executable(test_app ${APP_TEST_SOURCES})
set_target_properties(test_app PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(test_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(test_app PRIVATE lumacro_appshell GTest::gtest GTest::gtest_main GTest::gmock)
target_compile_definitions(test_app PRIVATE
  LUMACRO3_BIN_DIR="${LUMACRO3_BIN_DIR}"
  LUMACRO3_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(test_app taskagent copy_data)
gtest_discover_tests(test_app TEST_FILTER "HelperServers*" DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 RESOURCE_LOCK helper_ports)
gtest_discover_tests(test_app TEST_FILTER "-HelperServers*" DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120)
