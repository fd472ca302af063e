#pragma once

// A stand-in for sway's IPC socket: answers each request with a reply of its own choosing. Every
// connection is served on a thread of its own (a client opens a second one for events), so the
// answer function runs on those threads and guards what it shares with the test.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quenlit::sway::testing {

class FakeSway {
  public:
    // The reply to a request; "(hang up)" closes the connection instead.
    using Answer = std::function<std::string(std::uint32_t type, const std::string& payload)>;

    explicit FakeSway(Answer answer) : answer_(std::move(answer)) {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("quenlit-sway-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".sock");
        std::filesystem::remove(path_);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        acceptor_ = std::thread([this] { acceptConnections(); });
    }
    ~FakeSway() {
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        {
            std::lock_guard lock(mutex_);
            for (int fd : clients_)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& thread : servers_)
            thread.join();
        for (int fd : clients_)
            ::close(fd);
        std::filesystem::remove(path_);
    }
    FakeSway(const FakeSway&) = delete;
    FakeSway& operator=(const FakeSway&) = delete;

    std::string path() const { return path_.string(); }

    // Sends an event to the connection that subscribed last; false when none did.
    bool push(std::uint32_t type, const std::string& payload) {
        std::lock_guard lock(mutex_);
        if (subscriber_ < 0) return false;
        const std::string message = frame(type, payload);
        return ::send(subscriber_, message.data(), message.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(message.size());
    }

  private:
    static std::string frame(std::uint32_t type, const std::string& payload) {
        std::string message = "i3-ipc";
        const auto size = static_cast<std::uint32_t>(payload.size());
        message.append(reinterpret_cast<const char*>(&size), 4);
        message.append(reinterpret_cast<const char*>(&type), 4);
        return message + payload;
    }
    static bool readAll(int fd, char* to, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::read(fd, to, size);
            if (n <= 0) return false;
            to += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    void acceptConnections() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            std::lock_guard lock(mutex_);
            clients_.push_back(fd);
            servers_.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd) {
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
            const std::string message = frame(type, reply);
            std::lock_guard lock(mutex_);
            // The client may have gone meanwhile (its event connection closes unread).
            if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0) break;
            if (type == 2) subscriber_ = fd;  // events follow the subscription's reply
        }
        ::shutdown(fd, SHUT_RDWR);
    }

    Answer answer_;
    std::filesystem::path path_;
    int listener_ = -1;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> clients_;  // closed when the fake goes
    int subscriber_ = -1;
    std::vector<std::thread> servers_;
};

}  // namespace quenlit::sway::testing
