// File readers, the list of open readers, the file writer and its CRC, file copies and the log
// file.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "file/orvane_file_stream.h"
#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

std::string TempPath(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_stream_test_" +
           std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

int32_t Read(orvane_file_reader* reader, int32_t position, int32_t count, void* buffer) {
    return reader->ReadAtMostCallback(__FILE__, __LINE__, reader, position, count, buffer);
}

void Close(orvane_file_reader* reader) {
    reader->CloseFileReaderCallback(__FILE__, __LINE__, reader);
}

// A scratch file removed at the end of the test.
struct TempFile {
    explicit TempFile(const std::string& name) : path(TempPath(name)) { std::remove(path.c_str()); }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

uint32_t ZlibCrc(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

// --- memory reader ------------------------------------------------------------------------

TEST(MemoryFileReader, ReadsOnlyInsideTheBlockAtItsOffset) {
    uint8_t block[50];
    for (int i = 0; i < 50; ++i)
        block[i] = uint8_t(i);
    orvane_file_reader* reader = OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 100, 50, block);
    ASSERT_NE(reader, nullptr);
    uint8_t buffer[64] = {};
    EXPECT_EQ(Read(reader, 90, 10, buffer), 0);  // ends right before the block
    EXPECT_EQ(Read(reader, 99, 10, buffer), 0);  // straddles its start: still below Offset
    EXPECT_EQ(Read(reader, 100, 10, buffer), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(buffer[i], i);
    EXPECT_EQ(Read(reader, 140, 20, buffer), 10);
    EXPECT_EQ(buffer[0], 40);
    EXPECT_EQ(buffer[9], 49);
    EXPECT_EQ(Read(reader, 149, 1, buffer), 1);
    EXPECT_EQ(buffer[0], 49);
    EXPECT_EQ(Read(reader, 150, 1, buffer), 0);
    EXPECT_EQ(Read(reader, 100, 50, buffer), 50);
    EXPECT_EQ(Read(reader, 100, 64, buffer), 50);
    // Counts, positions and buffers that no read can serve.
    EXPECT_EQ(Read(reader, 100, 0, buffer), 0);
    EXPECT_EQ(Read(reader, 100, -5, buffer), 0);
    EXPECT_EQ(Read(reader, -1, 10, buffer), 0);
    EXPECT_EQ(Read(reader, INT32_MAX, INT32_MAX, buffer), 0);
    EXPECT_EQ(Read(reader, 100, 10, nullptr), 0);
    Close(reader);
}

TEST(MemoryFileReader, ExtremeOffsetsDoNotOverflow) {
    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t buffer[8] = {};
    orvane_file_reader* low = OrvaneCreateMemoryFileReader(__FILE__, __LINE__, INT32_MIN, 8, block);
    EXPECT_EQ(Read(low, INT32_MAX, 8, buffer), 0);
    EXPECT_EQ(Read(low, INT32_MIN + 7, 8, buffer), 1);
    EXPECT_EQ(buffer[0], 8);
    Close(low);
    orvane_file_reader* high =
        OrvaneCreateMemoryFileReader(__FILE__, __LINE__, INT32_MAX - 4, 8, block);
    EXPECT_EQ(Read(high, INT32_MAX, 8, buffer), 4);  // the block's last bytes lie past INT32_MAX
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(Read(high, INT32_MIN, 8, buffer), 0);
    Close(high);
}

TEST(MemoryFileReader, RefusesBlocksItCouldNotRead) {
    LogCapture log;
    EXPECT_EQ(OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, -1, "x"), nullptr);
    EXPECT_EQ(OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, 4, nullptr), nullptr);
    EXPECT_EQ(log.errors(), 2u);
    orvane_file_reader* empty = OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, 0, nullptr);
    ASSERT_NE(empty, nullptr);
    uint8_t buffer[4];
    EXPECT_EQ(Read(empty, 0, 4, buffer), 0);
    Close(empty);
}

// --- list of open readers -----------------------------------------------------------------

int32_t NoRead(const char*, int32_t, orvane_file_reader*, int32_t, int32_t, void*) {
    return 0;
}
void NoClose(const char*, int32_t, orvane_file_reader* reader) {
    OrvaneUnlinkFileReader(reader);
}

TEST(OpenReaders, NewReadersGoInFrontAndUnlinkingJoinsTheNeighbours) {
    orvane_file_reader a{}, b{}, c{};
    OrvaneInitializeFileReader("origin.cpp", 7, NoClose, NoRead, &a);
    EXPECT_STREQ(a.SourceFile, "origin.cpp");
    EXPECT_EQ(a.SourceLine, 7);
    EXPECT_EQ(a.CloseFileReaderCallback, &NoClose);
    EXPECT_EQ(a.ReadAtMostCallback, &NoRead);
    OrvaneInitializeFileReader(__FILE__, __LINE__, NoClose, NoRead, &b);
    OrvaneInitializeFileReader(__FILE__, __LINE__, NoClose, NoRead, &c);
    // Front insertion: the list reads c, b, a.
    EXPECT_EQ(c.Next, &b);
    EXPECT_EQ(b.Next, &a);
    EXPECT_EQ(a.Previous, &b);
    EXPECT_EQ(b.Previous, &c);
    EXPECT_EQ(OrvaneUnlinkFileReader(&b), &b);
    EXPECT_EQ(b.Next, nullptr);
    EXPECT_EQ(b.Previous, nullptr);
    EXPECT_EQ(c.Next, &a);
    EXPECT_EQ(a.Previous, &c);
    // Unlinking twice, or null, changes nothing.
    EXPECT_EQ(OrvaneUnlinkFileReader(&b), &b);
    EXPECT_EQ(OrvaneUnlinkFileReader(nullptr), nullptr);
    EXPECT_EQ(c.Next, &a);
    orvane_file_reader* sentinel = c.Previous;  // c is the newest reader
    orvane_file_reader* older = a.Next;
    OrvaneUnlinkFileReader(&a);
    OrvaneUnlinkFileReader(&c);
    EXPECT_EQ(sentinel->Next, older);
    EXPECT_EQ(older->Previous, sentinel);
}

TEST(OpenReaders, ClosingUnlinksAndManyThreadsMayOpenAndClose) {
    orvane_file_reader mark{};
    OrvaneInitializeFileReader(__FILE__, __LINE__, NoClose, NoRead, &mark);
    orvane_file_reader* front = mark.Previous;  // the sentinel, as long as mark is the newest
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            uint8_t block[4] = {};
            for (int i = 0; i < 500; ++i) {
                orvane_file_reader* r =
                    OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, 4, block);
                if (r) Close(r);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(front->Next, &mark);
    EXPECT_EQ(mark.Previous, front);
    OrvaneUnlinkFileReader(&mark);
}

// --- platform reader ----------------------------------------------------------------------

TEST(PlatformFileReader, ReadsAtEveryBoundary) {
    TempFile file("reader.bin");
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + 3);
    WriteAll(file.path, bytes);
    orvane_file_reader* reader =
        OrvaneCreatePlatformFileReader(__FILE__, __LINE__, file.path.c_str());
    ASSERT_NE(reader, nullptr);
    std::vector<uint8_t> buffer(2000);
    EXPECT_EQ(Read(reader, 0, 1000, buffer.data()), 1000);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
    EXPECT_EQ(Read(reader, 0, 2000, buffer.data()), 1000);
    EXPECT_EQ(Read(reader, 999, 10, buffer.data()), 1);
    EXPECT_EQ(buffer[0], bytes[999]);
    EXPECT_EQ(Read(reader, 500, 1, buffer.data()), 1);
    EXPECT_EQ(buffer[0], bytes[500]);
    // Positions are absolute: a read does not move a later one.
    EXPECT_EQ(Read(reader, 500, 1, buffer.data()), 1);
    EXPECT_EQ(buffer[0], bytes[500]);
    EXPECT_EQ(Read(reader, 1000, 10, buffer.data()), 0);
    EXPECT_EQ(Read(reader, 5000, 10, buffer.data()), 0);
    EXPECT_EQ(Read(reader, -1, 10, buffer.data()), 0);
    EXPECT_EQ(Read(reader, 0, 0, buffer.data()), 0);
    EXPECT_EQ(Read(reader, 0, -1, buffer.data()), 0);
    Close(reader);
}

TEST(PlatformFileReader, MissingFilesAndDirectoriesGiveNullWithoutAMessage) {
    LogCapture log;
    EXPECT_EQ(OrvaneCreatePlatformFileReader(__FILE__, __LINE__, TempPath("missing").c_str()),
              nullptr);
    EXPECT_EQ(OrvaneCreatePlatformFileReader(__FILE__, __LINE__, OrvaneGetTemporaryDirectory()),
              nullptr);
    EXPECT_TRUE(log.messages().empty());
}

orvane_file_reader* g_lastOpened = nullptr;
orvane_file_reader* CountingOpen(const char* file, int32_t line, const char* name) {
    g_lastOpened = OrvaneCreateMemoryFileReader(file, line, 0, 3, "abc");
    (void)name;
    return g_lastOpened;
}

TEST(DefaultOpenCallback, IsReplaceableAndNullRestoresThePlatformReader) {
    EXPECT_EQ(OrvaneGetDefaultFileReaderOpenCallback(), &OrvaneCreatePlatformFileReader);
    OrvaneSetDefaultFileReaderOpenCallback(&CountingOpen);
    EXPECT_EQ(OrvaneGetDefaultFileReaderOpenCallback(), &CountingOpen);
    // CopyFileToWriter opens through it.
    TempFile out("copy_through_callback.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(out.path.c_str(), true);
    int32_t copied = -1;
    uint8_t buffer[2];
    EXPECT_TRUE(orvane::CopyFileToWriter(writer, "any name", 2, buffer, &copied));
    EXPECT_EQ(copied, 3);
    OrvaneDeleteFileWriter(writer);
    EXPECT_EQ(ReadAll(out.path), (std::vector<uint8_t>{'a', 'b', 'c'}));
    OrvaneSetDefaultFileReaderOpenCallback(nullptr);
    EXPECT_EQ(OrvaneGetDefaultFileReaderOpenCallback(), &OrvaneCreatePlatformFileReader);
}

// --- writer -------------------------------------------------------------------------------

TEST(FileWriter, PredictsAlignment) {
    const int32_t expected[] = {0, 3, 2, 1, 0, 3};
    for (int32_t p = 0; p < 6; ++p)
        EXPECT_EQ(OrvanePredictWriterAlignment(p), expected[p]);
    EXPECT_EQ(OrvanePredictWriterAlignment(INT32_MAX), 1);
}

TEST(FileWriter, CrcOfAbcIsTheStandardOne) {
    TempFile file("abc.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    ASSERT_NE(writer, nullptr);
    EXPECT_FALSE(OrvaneWriterIsCRCing(writer));
    OrvaneBeginWriterCRC(writer);
    EXPECT_TRUE(OrvaneWriterIsCRCing(writer));
    EXPECT_TRUE(OrvaneWrite(writer, 3, "abc"));
    EXPECT_EQ(OrvaneEndWriterCRC(writer), 0x352441C2u);
    EXPECT_FALSE(OrvaneWriterIsCRCing(writer));
    OrvaneDeleteFileWriter(writer);
}

TEST(FileWriter, RunningCrcMatchesZlibOverWritesAlignmentAndSeeks) {
    TempFile file("crc.bin");
    std::mt19937 random(1234);
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    ASSERT_NE(writer, nullptr);
    // Bytes written before the begin and bytes skipped by a seek stay out of the CRC.
    ASSERT_TRUE(OrvaneWrite(writer, 5, "head!"));
    OrvaneBeginWriterCRC(writer);
    std::vector<uint8_t> covered;
    for (int chunk = 0; chunk < 200; ++chunk) {
        std::vector<uint8_t> bytes(random() % 700);
        for (auto& b : bytes)
            b = uint8_t(random());
        ASSERT_TRUE(OrvaneWrite(writer, int32_t(bytes.size()), bytes.data()));
        covered.insert(covered.end(), bytes.begin(), bytes.end());
        int32_t before = OrvaneGetWriterPosition(writer);
        int32_t padding = OrvaneAlignWriter(writer);
        EXPECT_EQ(padding, OrvanePredictWriterAlignment(before));
        EXPECT_EQ(OrvaneGetWriterPosition(writer) % 4, 0);
        covered.insert(covered.end(), size_t(padding), 0);
    }
    EXPECT_EQ(OrvaneEndWriterCRC(writer), ZlibCrc(covered));
    OrvaneDeleteFileWriter(writer);
    std::vector<uint8_t> stored = ReadAll(file.path);
    ASSERT_EQ(stored.size(), covered.size() + 5);
    EXPECT_TRUE(std::equal(covered.begin(), covered.end(), stored.begin() + 5));
}

TEST(FileWriter, AlignmentWritesZerosOnlyWhileCrcing) {
    TempFile file("align.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    ASSERT_TRUE(OrvaneWrite(writer, 5, "12345"));
    OrvaneBeginWriterCRC(writer);
    EXPECT_EQ(OrvaneAlignWriter(writer), 3);
    EXPECT_EQ(OrvaneGetWriterPosition(writer), 8);
    EXPECT_EQ(OrvaneEndWriterCRC(writer), ZlibCrc({0, 0, 0}));
    EXPECT_NE(OrvaneEndWriterCRC(writer), 0u);
    EXPECT_EQ(OrvaneAlignWriter(writer), 0);
    // Without a CRC the position moves; the file still ends at the aligned position with zeros,
    // even over bytes that an earlier life of the file left there.
    ASSERT_TRUE(OrvaneWrite(writer, 1, "x"));
    EXPECT_EQ(OrvaneAlignWriter(writer), 3);
    EXPECT_EQ(OrvaneGetWriterPosition(writer), 12);
    OrvaneDeleteFileWriter(writer);
    std::vector<uint8_t> expected = {'1', '2', '3', '4', '5', 0, 0, 0, 'x', 0, 0, 0};
    EXPECT_EQ(ReadAll(file.path), expected);

    // Inside existing data the skip keeps what is there.
    writer = OrvaneNewFileWriter(file.path.c_str(), false);
    EXPECT_EQ(OrvaneSeekWriterFromStart(writer, 1), 1);
    EXPECT_EQ(OrvaneAlignWriter(writer), 3);
    ASSERT_TRUE(OrvaneWrite(writer, 1, "y"));
    OrvaneDeleteFileWriter(writer);
    expected[4] = 'y';
    EXPECT_EQ(ReadAll(file.path), expected);
}

TEST(FileWriter, EndingACrcThatWasNeverBegunGivesTheCrcOfNothing) {
    TempFile file("no_crc.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    ASSERT_NE(writer, nullptr);
    // Bytes written while no CRC runs are in no CRC.
    ASSERT_TRUE(OrvaneWrite(writer, 3, "abc"));
    EXPECT_EQ(OrvaneEndWriterCRC(writer), ZlibCrc({}));
    EXPECT_FALSE(OrvaneWriterIsCRCing(writer));
    OrvaneDeleteFileWriter(writer);
}

TEST(FileWriter, KeepsOrClearsAnExistingFileAndSeeks) {
    TempFile file("keep.bin");
    WriteAll(file.path, {'a', 'b', 'c', 'd', 'e', 'f'});
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), false);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(OrvaneGetWriterPosition(writer), 0);
    ASSERT_TRUE(OrvaneWrite(writer, 2, "XY"));
    EXPECT_EQ(OrvaneSeekWriterFromEnd(writer, 0), 6);
    EXPECT_EQ(OrvaneSeekWriterFromEnd(writer, -1), 5);
    ASSERT_TRUE(OrvaneWrite(writer, 1, "Z"));
    EXPECT_EQ(OrvaneSeekWriterFromCurrentPosition(writer, -3), 3);
    EXPECT_EQ(OrvaneSeekWriterFromStart(writer, 10), 10);  // past the end is allowed
    EXPECT_EQ(OrvaneSeekWriterFromCurrentPosition(writer, 0), 10);
    OrvaneDeleteFileWriter(writer);
    EXPECT_EQ(ReadAll(file.path), (std::vector<uint8_t>{'X', 'Y', 'c', 'd', 'e', 'Z'}));

    writer = OrvaneNewFileWriter(file.path.c_str(), true);
    EXPECT_EQ(OrvaneSeekWriterFromEnd(writer, 0), 0);
    OrvaneDeleteFileWriter(writer);
    EXPECT_TRUE(ReadAll(file.path).empty());
}

TEST(FileWriter, FailuresAreReportedInThePlatformFormat) {
    LogCapture log;
    std::string missing = TempPath("no_such_directory/file.bin");
    EXPECT_EQ(OrvaneNewFileWriter(missing.c_str(), true), nullptr);
    ASSERT_EQ(log.warnings(), 1u);
    const orvane_test::CapturedMessage& created = log.messages()[0];
    EXPECT_EQ(created.origin, OrvanePlatformOrigin);
    EXPECT_EQ(created.text.rfind("orvane_file_stream.cpp(", 0), 0u) << created.text;
    EXPECT_NE(created.text.find("): CreateFile failed with error \"No such file or directory\" at "
                                "orvane_file_stream.cpp("),
              std::string::npos)
        << created.text;

    TempFile file("seek.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    log.Clear();
    EXPECT_EQ(OrvaneSeekWriterFromStart(writer, -4), -1);
    EXPECT_EQ(OrvaneSeekWriterFromCurrentPosition(writer, -1), -1);
    EXPECT_EQ(log.warnings(), 2u);
    EXPECT_TRUE(log.Contains("SetFilePointer failed with error \"Invalid argument\""));
    EXPECT_EQ(OrvaneGetWriterPosition(writer), 0);
    // Argument misuse is refused without touching the file.
    log.Clear();
    EXPECT_FALSE(OrvaneWrite(writer, -1, "x"));
    EXPECT_FALSE(OrvaneWrite(writer, 4, nullptr));
    EXPECT_TRUE(OrvaneWrite(writer, 0, nullptr));
    EXPECT_FALSE(OrvaneWrite(nullptr, 1, "x"));
    EXPECT_EQ(OrvaneGetWriterPosition(nullptr), -1);
    EXPECT_EQ(OrvaneAlignWriter(nullptr), 0);
    EXPECT_EQ(log.errors(), 5u);
    OrvaneDeleteFileWriter(writer);
    OrvaneDeleteFileWriter(nullptr);

    // A device that refuses every write.
    orvane_file_writer* full = OrvaneNewFileWriter("/dev/full", false);
    if (full) {
        log.Clear();
        EXPECT_FALSE(OrvaneWrite(full, 4, "abcd"));
        EXPECT_TRUE(log.Contains("WriteFile failed with error \"No space left on device\""));
        OrvaneDeleteFileWriter(full);
    }
}

TEST(FileWriter, TemporaryDirectoryEndsWithASlashAndIsWritable) {
    const char* directory = OrvaneGetTemporaryDirectory();
    ASSERT_NE(directory, nullptr);
    std::string text = directory;
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '/');
    EXPECT_EQ(text.find('\\'), std::string::npos);
    EXPECT_EQ(OrvaneGetTemporaryDirectory(), directory);
    TempFile file("temporary.bin");
    orvane_file_writer* writer = OrvaneNewFileWriter(file.path.c_str(), true);
    EXPECT_NE(writer, nullptr);
    OrvaneDeleteFileWriter(writer);
    EXPECT_TRUE(orvane::DeleteFile(file.path.c_str()));
    EXPECT_FALSE(orvane::DeleteFile(file.path.c_str()));
}

// --- copies -------------------------------------------------------------------------------

TEST(CopyFileToWriter, CopiesWholeFilesThroughAnyBufferSize) {
    TempFile source("copy_source.bin"), target("copy_target.bin");
    std::vector<uint8_t> bytes(10007);
    std::mt19937 random(7);
    for (auto& b : bytes)
        b = uint8_t(random());
    WriteAll(source.path, bytes);
    for (int32_t bufferSize : {1, 7, 4096, 10007, 65536}) {
        orvane_file_writer* writer = OrvaneNewFileWriter(target.path.c_str(), true);
        ASSERT_TRUE(OrvaneWrite(writer, 2, "<<"));
        std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
        int32_t copied = 0;
        EXPECT_TRUE(orvane::CopyFileToWriter(writer, source.path.c_str(), bufferSize, buffer.data(),
                                             &copied));
        EXPECT_EQ(copied, 10007);
        OrvaneDeleteFileWriter(writer);
        std::vector<uint8_t> stored = ReadAll(target.path);
        ASSERT_EQ(stored.size(), bytes.size() + 2) << bufferSize;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), stored.begin() + 2)) << bufferSize;
    }
}

TEST(CopyFileToWriter, FailsForMissingFilesFailedWritesAndUnusableArguments) {
    LogCapture log;
    TempFile source("copy_fail.bin"), target("copy_fail_target.bin");
    WriteAll(source.path, std::vector<uint8_t>(100, 1));
    uint8_t buffer[16];
    int32_t copied = -1;
    orvane_file_writer* writer = OrvaneNewFileWriter(target.path.c_str(), true);
    EXPECT_FALSE(
        orvane::CopyFileToWriter(writer, TempPath("missing").c_str(), 16, buffer, &copied));
    EXPECT_EQ(copied, 0);
    EXPECT_FALSE(orvane::CopyFileToWriter(writer, source.path.c_str(), 0, buffer, &copied));
    EXPECT_FALSE(orvane::CopyFileToWriter(writer, source.path.c_str(), 16, nullptr, &copied));
    EXPECT_FALSE(orvane::CopyFileToWriter(nullptr, source.path.c_str(), 16, buffer, &copied));
    OrvaneDeleteFileWriter(writer);
    orvane_file_writer* full = OrvaneNewFileWriter("/dev/full", false);
    if (full) {
        EXPECT_FALSE(orvane::CopyFileToWriter(full, source.path.c_str(), 16, buffer, &copied));
        OrvaneDeleteFileWriter(full);
    }
}

// --- log file -----------------------------------------------------------------------------

TEST(LogFile, AppendsEachMessageWithALineFeed) {
    TempFile file("log.txt");
    WriteAll(file.path, {'o', 'l', 'd', '\n'});
    LogCapture log;  // keeps the messages off the test's own output
    ASSERT_TRUE(OrvaneSetLogFileName(file.path.c_str(), false));
    EXPECT_EQ(ReadAll(file.path).size(), 4u);
    ASSERT_TRUE(OrvaneSetLogFileName(file.path.c_str(), true));
    EXPECT_TRUE(ReadAll(file.path).empty());
    std::string missing = TempPath("no_such_directory/x");
    EXPECT_EQ(OrvaneNewFileWriter(missing.c_str(), true), nullptr);  // logs one warning
    EXPECT_EQ(OrvaneSeekWriterFromStart(nullptr, 0), -1);            // logs one error
    ASSERT_TRUE(OrvaneSetLogFileName(nullptr, false));
    std::vector<uint8_t> stored = ReadAll(file.path);
    std::string text(stored.begin(), stored.end());
    ASSERT_EQ(log.messages().size(), 2u);
    EXPECT_EQ(text, log.messages()[0].text + "\n" + log.messages()[1].text + "\n");
}

TEST(LogFile, AnUnopenableLogFileIsSkippedWithoutRecursion) {
    LogCapture log;
    std::string missing = TempPath("no_such_directory/log.txt");
    EXPECT_FALSE(OrvaneSetLogFileName(missing.c_str(), true));
    // The platform warning of the failed open reaches the callback once.
    EXPECT_EQ(log.warnings(), 1u);
    log.Clear();
    EXPECT_EQ(OrvaneSeekWriterFromStart(nullptr, 0), -1);
    // The error itself, then the warning about the log file that could not be opened for it.
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(log.Contains("CreateFile failed"));
    ASSERT_TRUE(OrvaneSetLogFileName(nullptr, false));
}

}  // namespace
