# The importer's own test program: it links liborvane_import (and assimp, as the reference
# that evaluates the same scenes; glTF scenes have an evaluator of the tests' own, which reads
# them with nlohmann-json).
find_package(nlohmann_json REQUIRED)
file(GLOB import_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/import/*.cpp)
add_executable(orvane_import_tests ${import_test_sources} test_main.cpp)
target_include_directories(orvane_import_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(orvane_import_tests PRIVATE orvane_import orvane assimp::assimp
  GTest::gtest orvane_data_dir nlohmann_json::nlohmann_json)
if(ORVANE_BUILD_TOOLS)
  target_compile_definitions(orvane_import_tests PRIVATE
    ORVANE_TOOL_PATH="$<TARGET_FILE:orvane_tool>")
  add_dependencies(orvane_import_tests orvane_tool)
endif()
add_test(NAME import COMMAND orvane_import_tests)
# Among the longest tests: started early (see the tool test).
set_tests_properties(import PROPERTIES COST 100)
