// Included first by every private header: private headers are for the library's own sources
// and its tests, never for applications.
#ifndef ORVANE_PRIVATE_H
#define ORVANE_PRIVATE_H

#ifndef ORVANE_BUILDING_LIBRARY
#error "This header is private to the Orvane library; include <orvane.h> instead."
#endif

#ifndef __cplusplus
#error "Private Orvane headers are C++."
#endif

// The module name that messages and allocation records carry ("orvane_file.cpp").
#ifdef __FILE_NAME__
#define ORVANE_SOURCE_FILE __FILE_NAME__
#else
#define ORVANE_SOURCE_FILE __FILE__
#endif

#endif  // ORVANE_PRIVATE_H
