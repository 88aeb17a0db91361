#pragma once

// A tiny tmpfs mounted for one test, to see what a full disk does. Mounting needs root (and a
// kernel that lets this process mount); elsewhere the test is skipped and says why.

#include <cstdint>
#include <string>

namespace zandrel::test {

class TinyDisk {
public:
    // `inodes`, when not 0, also caps the number of files and folders (a disk full of names).
    explicit TinyDisk(std::uint64_t bytes, std::uint64_t inodes = 0);
    ~TinyDisk();
    TinyDisk(const TinyDisk&) = delete;
    TinyDisk& operator=(const TinyDisk&) = delete;
    // Empty when the disk could not be mounted; skipReason() then says why.
    const std::string& path() const { return path_; }
    const std::string& skipReason() const { return why_; }

private:
    std::string path_;
    std::string why_;
};

}  // namespace zandrel::test
