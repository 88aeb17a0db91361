// The file layer on real files: what it refuses to open, writing through short writes and
// EINTR, atomic replacement, hole-keeping copies of files that change under it, the sweep of
// leftovers, and a full disk.
#include "base/files.h"
#include "files_tiny_disk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zandrel::files {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::uint8_t((i * 131 + seed * 7 + i / 251) & 0xFF);
    return v;
}

class FilesTest : public ::testing::Test {
protected:
    FilesTest() {
        char dir[] = "/tmp/zandrel-files-test-XXXXXX";
        root = ::mkdtemp(dir);
    }
    ~FilesTest() override { fs::remove_all(root); }

    std::string at(const std::string& name) const { return root + "/" + name; }

    static void put(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    static std::vector<std::uint8_t> get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Every name in the folder, hidden ones included.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(root)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string root;
};

// ---- opening ----

TEST_F(FilesTest, OpenRefusesAtOnceWhatIsNotARegularFile) {
    put(at("map"), pattern(10, 1));
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_directory(at("folder"));
    fs::create_symlink(at("map"), at("link"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, at("socket").c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    struct Case {
        const char* name;
        std::string path;
        int code;
    } cases[] = {
        // Nobody writes to the FIFO: a blocking open would hang here.
        {"fifo", at("fifo"), EINVAL},     {"device", "/dev/null", EINVAL},
        {"folder", at("folder"), EISDIR}, {"symbolic link to a map", at("link"), ELOOP},
        {"socket", at("socket"), ENXIO},  {"missing", at("missing"), ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        struct stat st {};
        try {
            openRegular(c.path, st);
            ADD_FAILURE() << "opened";
        } catch (const FileError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
        }
    }
    ::close(sock);

    struct stat st {};
    const Fd fd = openRegular(at("map"), st);
    EXPECT_GE(fd.get(), 0);
    EXPECT_EQ(st.st_size, 10);
    EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
}

// ---- writing ----

void noteSignal(int) {}

// A pipe takes at most its buffer per write and a signal interrupts a writer that waits on
// a full pipe: the writer sees short writes and EINTR, and every byte must still arrive in order.
TEST(WriteAll, WritesEveryByteThroughShortWritesAndInterruptions) {
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = noteSignal;  // no SA_RESTART: the blocked write returns early
    ASSERT_EQ(::sigaction(SIGUSR1, &sa, &old), 0);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const std::vector<std::uint8_t> sent = pattern(8 << 20, 3);

    std::atomic<bool> done{false};
    std::string error;
    std::thread writer([&] {
        try {
            writeAll(pipeFds[1], sent.data(), sent.size(), "pipe");
        } catch (const FileError& e) {
            error = e.what();
        }
        done = true;
        ::close(pipeFds[1]);
    });
    const pthread_t writerId = writer.native_handle();
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> buf(7000);
    for (int i = 0;; ++i) {
        if (!done && i % 3 == 0) ::pthread_kill(writerId, SIGUSR1);
        const ssize_t n = ::read(pipeFds[0], buf.data(), buf.size());
        if (n <= 0) break;
        received.insert(received.end(), buf.begin(), buf.begin() + n);
    }
    writer.join();
    ::close(pipeFds[0]);
    ::sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(error, "");
    EXPECT_TRUE(received == sent) << "received " << received.size() << " of " << sent.size();
}

// ---- replacing ----

TEST_F(FilesTest, ReplaceCommitsTheNewBytesAndLeavesNothingBehind) {
    put(at("map"), pattern(100, 1));
    const auto fresh = pattern(5000, 2);
    replaceWith(at("map"), fresh, Sync::Yes);
    EXPECT_EQ(get(at("map")), fresh);
    replaceWith(at("new"), fresh, Sync::No);
    EXPECT_EQ(get(at("new")), fresh);
    EXPECT_EQ(names(), (std::vector<std::string>{"map", "new"}));
}

TEST_F(FilesTest, AFailedReplaceKeepsTheOldBytesAndRemovesItsTemporaryFile) {
    const auto old = pattern(300, 1);
    struct Case {
        const char* name;
        std::string target;
        std::function<void(ReplaceFile&)> work;
    } cases[] = {
        {"given up before the commit", at("map"),
         [](ReplaceFile& f) { writeAll(f.fd(), "x", 1, f.tempPath()); }},
        {"a failing write", at("map"),
         [](ReplaceFile& f) {
             const Fd readOnly(::open(f.tempPath().c_str(), O_RDONLY));
             writeAll(readOnly.get(), "x", 1, f.tempPath());
         }},
        {"target is a folder", at("folder"), [](ReplaceFile& f) { f.commit(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(at("map"), old);
        fs::create_directory(at("folder"));
        fs::create_directory(at("folder/inside"));
        try {
            ReplaceFile f(c.target, Sync::Yes);
            c.work(f);
        } catch (const FileError&) {
        }
        EXPECT_EQ(get(at("map")), old);
        EXPECT_TRUE(fs::is_directory(at("folder/inside")));
        EXPECT_EQ(names(), (std::vector<std::string>{"folder", "map"}));
    }
}

TEST_F(FilesTest, AFullDiskIsReportedAsSuchAndKeepsTheOldFile) {
    test::TinyDisk disk(256 << 10);
    if (disk.path().empty()) GTEST_SKIP() << disk.skipReason();
    const std::string map = disk.path() + "/map";
    const auto old = pattern(64 << 10, 1);
    put(map, old);
    const std::uint64_t free = freeBytes(disk.path());
    EXPECT_GT(free, 100u << 10);
    EXPECT_LE(free, 256u << 10);
    try {
        replaceWith(map, pattern(512 << 10, 2), Sync::Yes);
        ADD_FAILURE() << "written";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), ENOSPC);
        EXPECT_NE(std::string(e.what()).find("the disk is full"), std::string::npos) << e.what();
    }
    EXPECT_EQ(get(map), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 1);
}

// ---- copying ----

TEST_F(FilesTest, CopyKeepsBytesHolesPermissionsAndTime) {
    // 64 MiB with two small islands of data: a dense copy would take 64 MiB of disk.
    const std::string from = at("sparse.map");
    {
        const Fd fd(::open(from.c_str(), O_WRONLY | O_CREAT, 0640));
        ASSERT_EQ(::ftruncate(fd.get(), 64 << 20), 0);
        const auto island = pattern(8192, 4);
        writeAllAt(fd.get(), island.data(), island.size(), 0, from);
        writeAllAt(fd.get(), island.data(), island.size(), 40 << 20, from);
    }
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, from.c_str(), times, 0), 0);
    put(at("copy.map"), pattern(10, 9));

    copyFile(from, at("copy.map"), Sync::Yes);

    struct stat src {
    }, dst{};
    ASSERT_EQ(::stat(from.c_str(), &src), 0);
    ASSERT_EQ(::stat(at("copy.map").c_str(), &dst), 0);
    EXPECT_EQ(dst.st_size, src.st_size);
    EXPECT_TRUE(get(from) == get(at("copy.map")));
    EXPECT_LE(dst.st_blocks, src.st_blocks + 64) << "the copy is dense";
    EXPECT_LT(dst.st_blocks * 512, 1 << 20);
    EXPECT_EQ(dst.st_mode & 0777, 0640u);
    EXPECT_EQ(dst.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(dst.st_mtim.tv_nsec, 500);
    EXPECT_EQ(names(), (std::vector<std::string>{"copy.map", "sparse.map"}));
}

// A second thread keeps cutting and regrowing (or just rewriting) the source while it is
// copied: each copy either fails and keeps the old destination, or (if it ran wholly between
// two changes) holds one whole version of the source. A torn copy is never a success.
TEST_F(FilesTest, ASourceThatChangesWhileCopiedFailsAndKeepsTheOldCopy) {
    struct Case {
        const char* name;
        void (*change)(int fd, int round);
    } cases[] = {
        {"shrinks and grows back",
         [](int fd, int round) {
             if (::ftruncate(fd, round % 2 ? 8 << 20 : 24 << 20) != 0) std::abort();
         }},
        {"same size, new bytes",
         [](int fd, int round) {
             const std::uint8_t b = std::uint8_t(round);
             if (::pwrite(fd, &b, 1, 12 << 20) != 1) std::abort();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = at("map");
        put(from, pattern(24 << 20, 1));
        const auto old = pattern(1000, 2);
        put(at("backup"), old);

        std::atomic<bool> stop{false};
        std::atomic<int> rounds{0};
        std::thread changer([&] {
            const Fd fd(::open(from.c_str(), O_WRONLY));
            for (int round = 0; !stop; ++round) {
                c.change(fd.get(), round);
                ++rounds;
            }
        });
        while (rounds == 0) std::this_thread::yield();
        int failed = 0;
        for (int attempt = 0; attempt < 10 && failed < 2; ++attempt) {
            const auto before = get(at("backup"));
            try {
                copyFile(from, at("backup"), Sync::No);
                // Ran between two changes: a whole version of the source.
                const auto copy = get(at("backup"));
                EXPECT_TRUE(copy.size() == (8u << 20) || copy.size() == (24u << 20));
            } catch (const FileError& e) {
                ++failed;
                EXPECT_NE(std::string(e.what()).find("changed while it was copied"),
                          std::string::npos)
                    << e.what();
                EXPECT_TRUE(get(at("backup")) == before);
            }
        }
        stop = true;
        changer.join();
        EXPECT_GT(failed, 0);
        EXPECT_EQ(names(), (std::vector<std::string>{"backup", "map"}));
    }
}

TEST_F(FilesTest, CopyDataRefusesASourceShorterThanMeasured) {
    put(at("short"), pattern(1000, 1));
    struct stat st {};
    const Fd in = openRegular(at("short"), st);
    const Fd out(::open(at("out").c_str(), O_RDWR | O_CREAT, 0600));
    EXPECT_THROW(copyData(in.get(), out.get(), 5000, at("short"), at("out")), FileError);
}

// ---- leftovers ----

TEST(IsOurs, TellsOurTemporaryFilesAndStagingFoldersFromMaps) {
    struct Case {
        const char* name;
        bool ours;
    } cases[] = {
        {".zandrel-tmp-abc123", true},
        {".zandrel-stage-x", true},
        {".zandrel-unpack-0badf00d", true},
        {"bloodgulch.map", false},
        {".zandrel", false},
        {"zandrel-tmp-abc", false},
        {".hidden.map", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isOurs(c.name), c.ours) << c.name;
}

TEST_F(FilesTest, TheNextWriteSweepsLeftoversOfAKilledProcessButNotLiveOnes) {
    // What a killed process leaves: a temporary file and a staging folder with files and
    // sub-folders in it, no lock held on either.
    put(at(".zandrel-tmp-dead01"), pattern(10, 1));
    fs::create_directories(at(".zandrel-stage-dead02/a/b/c"));
    put(at(".zandrel-stage-dead02/a/b/c/1"), pattern(10, 1));
    put(at(".zandrel-stage-dead02/a/2"), pattern(10, 1));
    fs::create_symlink("/etc", at(".zandrel-stage-dead02/a/etc"));
    put(at("keep.map"), pattern(10, 1));
    put(at(".hidden"), pattern(10, 1));
    // Unlocked by design (older unpacking code): hidden, but not ours to remove.
    fs::create_directory(at(".zandrel-unpack-0badf00d"));
    // A temporary-looking folder and a staging-looking file are nothing we make.
    fs::create_directory(at(".zandrel-tmp-folder"));
    put(at(".zandrel-stage-file"), pattern(10, 1));

    // Live ones of another writer in this folder.
    ReplaceFile live(at("other.map"), Sync::No);
    StagingFolder staging(root);
    put(staging.path() + "/0", pattern(10, 1));

    replaceWith(at("new.map"), pattern(10, 2), Sync::No);

    const std::string liveTemp = fs::path(live.tempPath()).filename();
    const std::string liveStage = fs::path(staging.path()).filename();
    std::vector<std::string> expected{".hidden",
                                      ".zandrel-stage-file",
                                      ".zandrel-tmp-folder",
                                      ".zandrel-unpack-0badf00d",
                                      liveTemp,
                                      liveStage,
                                      "keep.map",
                                      "new.map"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names(), expected);
    EXPECT_TRUE(fs::exists("/etc/passwd"));
    EXPECT_TRUE(fs::exists(staging.path() + "/0"));
}

TEST_F(FilesTest, AStagingFolderGoesWithEverythingInIt) {
    {
        StagingFolder staging(root);
        fs::create_directories(staging.path() + "/deep/er");
        put(staging.path() + "/deep/er/x", pattern(10, 1));
    }
    EXPECT_TRUE(names().empty());
}

}  // namespace
}  // namespace zandrel::files
