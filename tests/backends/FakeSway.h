#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quenlit::wayland {

// A stand-in for sway's socket: answers each request with a reply of its own choosing.
class FakeSway {
  public:
    explicit FakeSway(std::function<std::string(std::uint32_t type, const std::string& payload)> answer)
        : answer_(std::move(answer)) {
        path_ =
            std::filesystem::temp_directory_path() / ("quenlit-sway-" + std::to_string(::getpid()) + ".sock");
        std::filesystem::remove(path_);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeSway() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
        std::filesystem::remove(path_);
    }
    std::string path() const { return path_.string(); }

  private:
    static bool readAll(int fd, char* to, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::read(fd, to, size);
            if (n <= 0) return false;
            to += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    void serve() {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        for (;;) {
            char header[14];
            if (!readAll(fd, header, sizeof(header))) break;
            std::uint32_t length = 0;
            std::uint32_t type = 0;
            std::memcpy(&length, header + 6, 4);
            std::memcpy(&type, header + 10, 4);
            std::string payload(length, '\0');
            if (!readAll(fd, payload.data(), length)) break;
            const std::string reply = answer_(type, payload);
            if (reply == "(hang up)") break;
            std::string message = "i3-ipc";
            const auto size = static_cast<std::uint32_t>(reply.size());
            message.append(reinterpret_cast<const char*>(&size), 4);
            message.append(reinterpret_cast<const char*>(&type), 4);
            message += reply;
            if (::write(fd, message.data(), message.size()) < 0) break;
        }
        ::close(fd);
    }

    std::function<std::string(std::uint32_t, const std::string&)> answer_;
    std::filesystem::path path_;
    int listener_ = -1;
    std::thread thread_;
};

}  // namespace quenlit::wayland
