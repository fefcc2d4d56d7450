#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

class RecordingListener : public CProgressListener {
public:
    void Progress(double fraction) override { heard.push_back(fraction); }
    std::vector<double> heard;
};

// A listener that cancels by throwing at every report, the last one included.
class ThrowingListener : public CProgressListener {
public:
    void Progress(double) override { throw std::runtime_error("cancelled"); }
};

long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

}  // namespace

TEST(ByteSourceTest, ReadsUpToTheLastByteAndFailsBeyond) {
    const std::vector<uint8_t> data = {1, 2, 3, 4};
    CMemoryBlockSource source;
    ASSERT_EQ(source.Open(data.data(), data.size()), 0);
    EXPECT_EQ(source.Name(), "Mem");
    EXPECT_EQ(*source.Read(1), 1);
    EXPECT_EQ(source.Read(0), data.data() + 1);
    EXPECT_EQ(*source.Peek(1), 2);
    EXPECT_EQ(source.Read(3)[2], 4);
    EXPECT_EQ(source.Available(), 0u);
    EXPECT_NE(source.Peek(1), nullptr);
    try {
        source.Read(1);
        FAIL() << "read past the end";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_END_OF_DATA);
        EXPECT_EQ(e.Text(), "End of file reached while decoding.\n");
    }
}

TEST(ByteSourceTest, HugeCountsFailInsteadOfWrapping) {
    const std::vector<uint8_t> data(16);
    CMemoryBlockSource source;
    source.Open(data.data(), data.size());
    source.Read(8);
    EXPECT_THROW(source.Read(SIZE_MAX - 4), CTextException);
}

TEST(ByteSourceTest, ProgressIsReportedPerKilobyteCrossed) {
    const std::vector<uint8_t> data(3000);
    RecordingListener steps;
    {
        CMemoryBlockSource source(&steps);
        source.Open(data.data(), data.size());
        for (int i = 0; i < 30; ++i) source.Read(100);
        source.Close();
    }
    ASSERT_EQ(steps.heard.size(), 3u);
    EXPECT_NEAR(steps.heard[0], 1100.0 / 3000, 1e-9);
    EXPECT_NEAR(steps.heard[1], 2100.0 / 3000, 1e-9);
    EXPECT_EQ(steps.heard[2], 1.0);

    RecordingListener whole;
    CMemoryBlockSource source(&whole);
    source.Open(data.data(), data.size());
    source.Read(3000);
    source.Close();
    EXPECT_EQ(whole.heard, (std::vector<double>{1.0, 1.0}));
}

TEST(ByteSourceTest, MappedFilesReportWhyTheyCannotOpen) {
    TempDir dir;
    CMappedFileSource source;
    EXPECT_EQ(source.Open(dir.File("no-such-folder/picture.bmp")), ERR_NO_SUCH_PATH);
    EXPECT_EQ(source.Open(dir.File("missing.bmp")), ERR_CANNOT_OPEN);
    WriteBytes(dir.File("empty.bmp"), {});
    EXPECT_EQ(source.Open(dir.File("empty.bmp")), ERR_NO_ACCESS);
    EXPECT_EQ(source.Open(dir.Path().string()), ERR_NO_ACCESS) << "a folder cannot be mapped";
    WriteBytes(dir.File("locked.bmp"), {1});
    std::filesystem::permissions(dir.File("locked.bmp"), std::filesystem::perms::none);
    if (::geteuid() != 0) {
        EXPECT_EQ(source.Open(dir.File("locked.bmp")), ERR_NO_ACCESS);
    }

    WriteBytes(dir.File("data.bin"), {7, 8, 9});
    ASSERT_EQ(source.Open(dir.File("data.bin")), 0);
    EXPECT_EQ(source.Name(), dir.File("data.bin"));
    EXPECT_EQ(source.DataSize(), 3u);
    EXPECT_EQ(source.Read(3)[2], 9);
    EXPECT_THROW(source.Read(1), CTextException);
    source.Close();
}

// A source abandoned while an exception unwinds closes itself without letting a throwing
// listener end the program; an explicit Close hands the listener's exception on but still
// releases the file first.
TEST(ByteSourceTest, ThrowingListenerNeitherEndsTheProgramNorKeepsTheFileOpen) {
    TempDir dir;
    WriteBytes(dir.File("picture.bmp"), std::vector<uint8_t>(3000, 7));
    ThrowingListener listener;
    const long before = OpenDescriptors();
    EXPECT_THROW(
        {
            CMappedFileSource source(&listener);
            ASSERT_EQ(source.Open(dir.File("picture.bmp")), 0);
            throw std::logic_error("the decode failed");
        },
        std::logic_error);
    {
        CMappedFileSource source(&listener);
        ASSERT_EQ(source.Open(dir.File("picture.bmp")), 0);
        EXPECT_THROW(source.Close(), std::runtime_error);
        EXPECT_EQ(OpenDescriptors(), before);
    }
    EXPECT_EQ(OpenDescriptors(), before);

    const std::vector<uint8_t> data(100);
    EXPECT_THROW(
        {
            CMemoryBlockSource source(&listener);
            source.Open(data.data(), data.size());
            throw std::logic_error("the decode failed");
        },
        std::logic_error);
}

// Only regular files open, and nothing waits: a FIFO without a writer, a device and a
// socket named like pictures fail at once with code 5.
TEST(ByteSourceTest, SpecialFilesFailAtOnce) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo.bmp").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.File("device.png"));
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listening, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir.File("socket.jpg");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const long before = OpenDescriptors();
    for (const char* name : {"fifo.bmp", "device.png", "socket.jpg"}) {
        CMappedFileSource source;
        EXPECT_EQ(source.Open(dir.File(name)), ERR_NO_ACCESS) << name;
    }
    EXPECT_EQ(OpenDescriptors(), before);
    ::close(listening);
}

// A mapped file shortened by another program: the pages past its new end read as zeros
// instead of ending the process, and the next read fails with end of data.
TEST(ByteSourceTest, FilesShortenedWhileMappedFailCleanly) {
    TempDir dir;
    const std::string path = dir.File("picture.bmp");
    std::vector<uint8_t> bytes(1 << 20, 0x5A);
    WriteBytes(path, bytes);
    CMappedFileSource source;
    ASSERT_EQ(source.Open(path), 0);
    std::filesystem::resize_file(path, 10);
    const uint8_t* data = source.Read(bytes.size() / 2);
    size_t sum = 0;
    for (size_t i = 0; i < bytes.size() / 2; ++i) sum += data[i];
    EXPECT_LT(sum, size_t{0x5A} * 4096) << "past the first page all is zeros";
    EXPECT_TRUE(source.Shrunk());
    try {
        source.Read(1);
        FAIL() << "read on after the file shrank";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_END_OF_DATA);
    }
    source.Close();
    EXPECT_FALSE(source.Shrunk());
    std::filesystem::resize_file(path, 0);
    EXPECT_EQ(source.Open(path), ERR_NO_ACCESS);
}
