#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

FakeServer::FakeServer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        listen(listen_fd_, 4) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&address), &size) != 0 || pipe(stop_) != 0) {
        std::perror("fake server");
        return;
    }
    port_ = ntohs(address.sin_port);
    respond([](const std::string &) { return Answer{"", true}; });
    thread_ = std::thread([this] { serve(); });
}

FakeServer::~FakeServer() {
    if (thread_.joinable()) {
        const char byte = 0;
        if (write(stop_[1], &byte, 1) != 1) {
            std::perror("fake server stop");
        }
        thread_.join();
    }
    for (int fd : {listen_fd_, stop_[0], stop_[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void FakeServer::respond(Responder responder) {
    std::lock_guard<std::mutex> hold(mutex_);
    responder_ = std::move(responder);
}

void FakeServer::serve() {
    while (true) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 || p[1].revents) {
            return;
        }
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            converse(fd);
            close(fd);
        }
    }
}

void FakeServer::converse(int fd) {
    std::string pending;
    while (true) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0 || p[1].revents) {
            return;
        }
        char buffer[65536];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return;
        }
        pending.append(buffer, size_t(got));
        size_t end;
        while ((end = pending.find('\x1a')) != std::string::npos) {
            const std::string message = pending.substr(0, end);
            pending.erase(0, end + 1);
            // The keep-alive's lone nop comes whenever it likes: not counted.
            const bool keep_alive = message.compare(0, 13, "sldocd2_call ") == 0 && op_of(message) == "nop";
            messages_ += keep_alive ? 0 : 1;
            Answer answer;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                answer = responder_(message);
            }
            if (!answer.bytes.empty() && send(fd, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL) !=
                                             ssize_t(answer.bytes.size())) {
                return;
            }
            if (answer.close_after) {
                return;
            }
        }
    }
}

namespace {

const std::string CALL = "sldocd2_call ", SEQUENCE = "sldocd2_seq ";

} // namespace

std::string seq_of(const std::string &message) {
    size_t start = 0;
    if (message.compare(0, SEQUENCE.size(), SEQUENCE) == 0) {
        start = SEQUENCE.size();
    } else {
        const size_t at = message.rfind(CALL);
        if (at == std::string::npos) {
            return "";
        }
        start = at + CALL.size();
    }
    return message.substr(start, message.find(' ', start) - start);
}

std::string op_of(const std::string &message) {
    if (message.compare(0, SEQUENCE.size(), SEQUENCE) == 0) {
        const size_t open = message.rfind('{');
        return message.substr(open + 1, message.find_first_of(" }", open) - open - 1);
    }
    const size_t at = message.rfind(CALL);
    if (at == std::string::npos) {
        return "";
    }
    size_t start = message.find(' ', message.find(' ', at + CALL.size()) + 1) + 1;
    size_t end = message.find_first_of(" ]", start);
    return message.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string reply_to(const std::string &message, const std::string &rest) {
    return seq_of(message) + " " + rest + "\x1a";
}

std::string scan_chain_text(const std::vector<std::string> &names, unsigned idcode_base) {
    std::string text = "   TapName             Enabled  IdCode     Expected   IrLen IrCap IrMask\n"
                       "-- ------------------- -------- ---------- ---------- ----- ----- ------\n";
    for (size_t i = 0; i < names.size(); ++i) {
        char row[200];
        std::snprintf(row, sizeof row, "%2u %-19s     Y     0x%08x 0x00000000    10 0x01  0x03\n",
                      unsigned(i), names[i].c_str(), unsigned(idcode_base + i));
        text += row;
    }
    return text;
}
