#include "files_tiny_disk.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

namespace zandrel::test {

TinyDisk::TinyDisk(std::uint64_t bytes, std::uint64_t inodes) {
    if (::geteuid() != 0) {
        why_ = "a tiny tmpfs needs root";
        return;
    }
    char dir[] = "/tmp/zandrel-tiny-disk-XXXXXX";
    if (!::mkdtemp(dir)) {
        why_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (inodes != 0) options += ",nr_inodes=" + std::to_string(inodes);
    if (::mount("tmpfs", dir, "tmpfs", 0, options.c_str()) != 0) {
        why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        ::rmdir(dir);
        return;
    }
    path_ = dir;
}

TinyDisk::~TinyDisk() {
    if (path_.empty()) return;
    ::umount2(path_.c_str(), MNT_DETACH);
    ::rmdir(path_.c_str());
}

}  // namespace zandrel::test
