# The test programs of the subsystems that need no library but GoogleTest (built here from
# Debian's sources in /usr/src/googletest) and Eigen (headers), built for WebAssembly (32-bit
# pointers) and run under node with the real file system: the library's code other than the
# type system and the files makes no assumption about the size of a pointer.
#   emcmake cmake -S . -B build-web-tests -DORVANE_WEB_TESTS=ON
#   cmake --build build-web-tests --target orvane_web_tests && ctest --test-dir build-web-tests
set(ORVANE_WEB_TEST_SUBSYSTEMS types math curve instance blend_graph mesh CACHE STRING
  "The subsystems whose test programs the WebAssembly build makes")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
target_compile_options(gtest PRIVATE -Wno-error)
enable_testing()
add_library(orvane_example_content STATIC ${PROJECT_SOURCE_DIR}/testing/example_content.cpp)
target_include_directories(orvane_example_content PUBLIC ${PROJECT_SOURCE_DIR}/include
  ${ORVANE_GENERATED_INCLUDE} ${PROJECT_SOURCE_DIR})
target_compile_definitions(orvane_example_content PUBLIC
  ORVANE_DEFAULT_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
target_include_directories(orvane_static PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(orvane_static INTERFACE ORVANE_BUILDING_LIBRARY)
add_custom_target(orvane_web_tests)
foreach(subsystem IN LISTS ORVANE_WEB_TEST_SUBSYSTEMS)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${subsystem}/*.cpp
    ${PROJECT_SOURCE_DIR}/tests/${subsystem}/offline/*.cpp)
  set(target orvane_${subsystem}_tests)
  add_executable(${target} ${sources} ${PROJECT_SOURCE_DIR}/tests/test_main.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests /usr/include/eigen3)
  target_link_libraries(${target} PRIVATE orvane_example_content orvane_static gtest)
  target_link_options(${target} PRIVATE "SHELL:-s NODERAWFS=1" "SHELL:-s ALLOW_MEMORY_GROWTH=1"
    "SHELL:-s EXIT_RUNTIME=1" "SHELL:-s TOTAL_STACK=4194304")
  set_target_properties(${target} PROPERTIES SUFFIX ".js")
  add_dependencies(orvane_web_tests ${target})
  # Without threads in this build, the tests that start threads are left out. (Debian's
  # emscripten predates node 20's fetch, which it would take for the wasm file.)
  add_test(NAME ${subsystem} COMMAND node --no-experimental-fetch
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.js
    "--gtest_filter=-*Threads.*:*Concurrent*:*TwoThreads*:*SeveralThreads*")
endforeach()
