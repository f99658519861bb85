#include "engine/files/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/files/file_loader.h"

namespace {

constexpr size_t kPathSize = 1024;

bool DiskPath(const char* name, char* out, size_t size) {
    return name && !Lib_PathIsArchive(name) && Lib_FileMakePath(name, out, size);
}

void FolderSync(const char* path) {
    char dir[kPathSize];
    std::snprintf(dir, sizeof dir, "%s", path);
    char* slash = std::strrchr(dir, '/');
    if (slash) *slash = 0;
    else std::memcpy(dir, ".", 2);
    int fd = ::open(dir[0] ? dir : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

bool Lib_FolderMake(const char* name) {
    char path[kPathSize];
    if (!DiskPath(name, path, sizeof path)) return false;
    size_t len = std::strlen(path);
    while (len > 1 && path[len - 1] == '/') path[--len] = 0;
    // Missing parents first ("user/<id>/" on a first start).
    for (size_t i = 1; i < len; ++i) {
        if (path[i] != '/') continue;
        path[i] = 0;
        ::mkdir(path, 0755);
        path[i] = '/';
    }
    if (::mkdir(path, 0755) == 0) {
        FolderSync(path);
        return true;
    }
    struct stat st;
    return errno == EEXIST && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool Lib_FileRemove(const char* name) {
    char path[kPathSize];
    if (!DiskPath(name, path, sizeof path)) return false;
    if (::unlink(path) != 0) return errno == ENOENT;
    FolderSync(path);
    return true;
}

bool Lib_FileCopy(const char* from, const char* to) {
    char src[kPathSize], dst[kPathSize], temp[kPathSize + 8];
    if (!DiskPath(from, src, sizeof src) || !DiskPath(to, dst, sizeof dst)) return false;
    std::snprintf(temp, sizeof temp, "%s.tmp", dst);
    int in = Lib_FileOpenRegular(src);
    if (in < 0) return false;
    // A leftover temporary file (or a FIFO in its place) is replaced, never
    // opened: writing to a FIFO would wait for a reader.
    ::unlink(temp);
    int out = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    char buf[65536];
    while (ok) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(out, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            ok = w > 0;
            if (ok) done += w;
        }
    }
    ::close(in);
    if (out >= 0) {
        ok = ::fsync(out) == 0 && ok;
        ok = ::close(out) == 0 && ok;
    }
    ok = ok && std::rename(temp, dst) == 0;
    if (!ok) ::unlink(temp);
    else FolderSync(dst);
    return ok;
}
