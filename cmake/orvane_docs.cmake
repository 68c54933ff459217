# The API reference: `cmake --build build --target docs` writes build/docs/html/index.html from
# the public headers, one page per subsystem header. The headers' block comments are the
# reference's text as they are (a filter hands them to Doxygen as documentation comments), so
# they stay plain C comments for readers of the headers. Any Doxygen warning fails the target.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  message(STATUS "Doxygen not found: no docs target")
  return()
endif()
set(ORVANE_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${ORVANE_DOCS_DIR}/Doxyfile @ONLY)
file(GLOB orvane_doc_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/orvane/*.h
  ${PROJECT_SOURCE_DIR}/include/orvane.h ${PROJECT_SOURCE_DIR}/docs/*.md)
add_custom_command(OUTPUT ${ORVANE_DOCS_DIR}/html/index.html
  COMMAND ${DOXYGEN_EXECUTABLE} ${ORVANE_DOCS_DIR}/Doxyfile
  DEPENDS ${orvane_doc_inputs} ${ORVANE_DOCS_DIR}/Doxyfile
    ${PROJECT_SOURCE_DIR}/docs/doxygen_filter.awk
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Writing the API reference into ${ORVANE_DOCS_DIR}/html"
  VERBATIM)
# Part of the default build, so that every build that can make the reference has it to install
# and to package.
add_custom_target(docs ALL DEPENDS ${ORVANE_DOCS_DIR}/html/index.html)
