// File readers and writers: the operations the loader, the compressor and the file builder use
// besides the exported ones.
#ifndef ORVANE_FILE_STREAM_H
#define ORVANE_FILE_STREAM_H

#include "core/orvane_private.h"
#include "orvane/core.h"
#include "orvane/file.h"

#include <cstdint>

namespace orvane {

// Logs the thread's last system error (errno) for the named operation, with PlatformOrigin,
// as "%s(%d): <operation> failed with error "<text>" at <file>(<line>)". Nothing happens when
// errno is 0. Call it right after the failed call, before anything else can change errno.
void LogPlatformError(bool isError, const char* sourceFile, int32_t sourceLine,
                      const char* operationName);

// Removes a file; false when it could not be removed (missing files included). Logs nothing.
bool DeleteFile(const char* fileName);

// Copies the file named fileName, opened through the default open callback, to the writer in
// chunks of bufferSize bytes through buffer. bytesCopied (may be null) receives the number of
// bytes read. False when the file cannot be opened, a write fails, or the arguments are
// unusable.
bool CopyFileToWriter(orvane_file_writer* writer, const char* fileName, int32_t bufferSize,
                      void* buffer, int32_t* bytesCopied);

}  // namespace orvane

#endif  // ORVANE_FILE_STREAM_H
