// Stands in for Firefox holding a profile: `firefox PROFILE_FOLDER` creates PROFILE/.parentlock, takes
// a write lock over the whole file as Firefox does, prints "ready" on its own line, and waits to be
// killed. It gives up after 60 seconds, or as soon as its parent is gone, so it never lingers.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROFILE_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/.parentlock";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        std::fprintf(stderr, "cannot lock %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const pid_t parent = ::getppid();
    for (int second = 0; second < 60 && ::getppid() == parent; ++second)
        ::sleep(1);
    return 0;
}
