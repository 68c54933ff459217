/* Orvane file streams: readers and writers of files and memory, and the temporary directory. */
#ifndef ORVANE_PUBLIC_FILE_STREAM_H
#define ORVANE_PUBLIC_FILE_STREAM_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* Threads: the list of open readers, the default open callback and the temporary directory
 * are process-wide and guarded; a reader, a writer or a loaded File is used by one thread at a
 * time. */
/* ---------------------------------------------------------------------------------------- */
/* File readers                                                                             */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_file_reader orvane_file_reader;

/* Releases the reader (and whatever it owns); the reader is unusable afterwards. */
typedef void (*orvane_close_file_reader_callback)(const char* SourceFile, orvane_int32 SourceLine,
                                                  orvane_file_reader* Reader);
/* Reads at most Count bytes at the absolute FilePosition into Buffer and returns the number
 * read: 0 at or beyond the end, on failure, and for a negative position or count. A reader has
 * no current position. */
typedef orvane_int32 (*orvane_read_at_most_callback)(const char* SourceFile,
                                                     orvane_int32 SourceLine,
                                                     orvane_file_reader* Reader,
                                                     orvane_int32 FilePosition, orvane_int32 Count,
                                                     void* Buffer);
/* Opens FileName; null when it cannot be opened. */
typedef orvane_file_reader* (*orvane_open_file_reader_callback)(const char* SourceFile,
                                                                orvane_int32 SourceLine,
                                                                const char* FileName);

/* The common head of every reader. Kinds of reader append their own fields after it. The
 * caller owns the memory; OrvaneInitializeFileReader fills it. Next and Previous belong to the
 * library's list of open readers. */
struct orvane_file_reader {
    const char* SourceFile; /* source file of the code that created the reader (not copied) */
    orvane_int32 SourceLine;
    orvane_close_file_reader_callback CloseFileReaderCallback;
    orvane_read_at_most_callback ReadAtMostCallback;
    orvane_file_reader* Next;
    orvane_file_reader* Previous;
};

/* Fills the head of Reader and links it in at the front of the list of open readers. */
ORVANE_API void OrvaneInitializeFileReader(
    const char* SourceFile, orvane_int32 SourceLine,
    orvane_close_file_reader_callback CloseFileReaderCallback,
    orvane_read_at_most_callback ReadAtMostCallback, orvane_file_reader* Reader);
/* Removes Reader from the list (null and readers that are not linked are allowed), clears its
 * links and returns it. */
ORVANE_API orvane_file_reader* OrvaneUnlinkFileReader(orvane_file_reader* Reader);
/* A reader on an existing operating-system file, opened for reading; null without a message
 * when the file cannot be opened (the caller reports it). */
ORVANE_API orvane_file_reader* OrvaneCreatePlatformFileReader(const char* SourceFile,
                                                              orvane_int32 SourceLine,
                                                              const char* FileName);
/* A reader over Size bytes at Memory that appear at file positions [Offset, Offset + Size).
 * The memory is neither copied nor released and must outlive the reader. Null when out of
 * memory, or (with an error) when Size is negative or Memory is null while Size is not 0. */
ORVANE_API orvane_file_reader* OrvaneCreateMemoryFileReader(const char* SourceFile,
                                                            orvane_int32 SourceLine,
                                                            orvane_int32 Offset, orvane_int32 Size,
                                                            const void* Memory);
/* The callback the loader and the file builder open files by name with; initially
 * OrvaneCreatePlatformFileReader. Setting null restores that initial callback. */
ORVANE_API orvane_open_file_reader_callback OrvaneGetDefaultFileReaderOpenCallback(void);
/* Process-wide: set it before other threads open files. */
ORVANE_API void OrvaneSetDefaultFileReaderOpenCallback(orvane_open_file_reader_callback Callback);

/* ---------------------------------------------------------------------------------------- */
/* File writers                                                                             */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_file_writer orvane_file_writer;

/* Opens FileName for writing at position 0. Clear true creates or empties it; false keeps its
 * contents (creating it when missing). Null, with a platform warning, when it cannot be
 * opened.
 * @param FileName the file to open
 * @param Clear true: the file is emptied at once, so that a write that fails later leaves it
 *        partial (write a new name and rename it for an all-or-nothing write)
 * @return the writer, released by OrvaneDeleteFileWriter */
ORVANE_API orvane_file_writer* OrvaneNewFileWriter(const char* FileName, orvane_bool Clear);
/* Closes the file and releases the writer; null is allowed. */
ORVANE_API void OrvaneDeleteFileWriter(orvane_file_writer* Writer);
/* Positions are bytes from the start of the file. Each returns the new position, or -1 (with a
 * warning) when the seek fails or the position does not fit 31 bits. */
ORVANE_API orvane_int32 OrvaneGetWriterPosition(orvane_file_writer* Writer);
/* To Offset bytes from the start, from the end (Offset usually 0 or negative), or from the
 * current position. A seek past the end extends the file only when bytes are written there. */
ORVANE_API orvane_int32 OrvaneSeekWriterFromStart(orvane_file_writer* Writer, orvane_int32 Offset);
ORVANE_API orvane_int32 OrvaneSeekWriterFromEnd(orvane_file_writer* Writer, orvane_int32 Offset);
ORVANE_API orvane_int32 OrvaneSeekWriterFromCurrentPosition(orvane_file_writer* Writer,
                                                            orvane_int32 Offset);
/* True when all Count bytes were written (Count 0 writes nothing and succeeds). While a CRC
 * runs the bytes enter it.
 * @param Writer the writer
 * @param Count the number of bytes (0 or more)
 * @param Bytes Count bytes
 * @return false, with a platform warning naming the system's reason, when the system took
 *         fewer bytes (a full disk, the file-size limit) */
ORVANE_API orvane_bool OrvaneWrite(orvane_file_writer* Writer, orvane_int32 Count,
                                   const void* Bytes);
/* The running CRC: the standard CRC-32 (zlib's) of every byte written from the begin to the
 * end, alignment zeros included; bytes skipped by a seek are not in it. */
ORVANE_API void OrvaneBeginWriterCRC(orvane_file_writer* Writer);
/* True between OrvaneBeginWriterCRC and OrvaneEndWriterCRC. */
ORVANE_API orvane_bool OrvaneWriterIsCRCing(orvane_file_writer* Writer);
/* Stops the CRC and returns it: the CRC of nothing, 0, when none was ever begun on this writer;
 * after an end, the last CRC again. */
ORVANE_API orvane_uint32 OrvaneEndWriterCRC(orvane_file_writer* Writer);
/* Advances the position to the next multiple of 4 and returns by how much (0 to 3). With a
 * CRC running zero bytes are written; otherwise the position moves, and the file is extended
 * with zeros when the new position lies beyond its end, so that skipped bytes always read as
 * zeros. */
ORVANE_API orvane_int32 OrvaneAlignWriter(orvane_file_writer* Writer);
/* Bytes from Position to the next multiple of 4: 0, 3, 2, 1 for 0, 1, 2, 3. */
ORVANE_API orvane_int32 OrvanePredictWriterAlignment(orvane_int32 Position);

/* The system's temporary directory with a trailing "/" ($TMPDIR, else /tmp), read once; a
 * static string. */
ORVANE_API const char* OrvaneGetTemporaryDirectory(void);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FILE_STREAM_H */
