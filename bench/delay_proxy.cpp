#include "bench/delay_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <vector>

namespace ondival::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::string data;
    std::size_t sent = 0;
};

// One direction of one connection.
struct Direction {
    int from = -1, to = -1;
    std::deque<Chunk> queue;
    bool from_ended = false;  // the sender closed its side
    bool to_shut = false;     // and the receiver was told, once the queue drained
};

struct Link {
    int client = -1, server = -1;
    Direction up, down;  // client to server, server to client
    bool dead = false;
};

void nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void no_delay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int connect_to(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

// Reads what `d.from` has, queued for delivery `delay` from now.
void receive(Direction& d, long long delay_ns, bool& dead) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(d.from, buffer, sizeof buffer);
        if (n > 0) {
            d.queue.push_back(Chunk{Clock::now() + std::chrono::nanoseconds(delay_ns),
                                    std::string(buffer, static_cast<std::size_t>(n)), 0});
            continue;
        }
        if (n == 0) d.from_ended = true;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) dead = true;
        return;
    }
}

// Writes every chunk that is due; false when the receiver cannot take more.
void deliver(Direction& d, Clock::time_point now, bool& dead) {
    while (!d.queue.empty() && d.queue.front().due <= now) {
        Chunk& c = d.queue.front();
        const ssize_t n = write(d.to, c.data.data() + c.sent, c.data.size() - c.sent);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) dead = true;
            return;
        }
        c.sent += static_cast<std::size_t>(n);
        if (c.sent < c.data.size()) return;
        d.queue.pop_front();
    }
    if (d.queue.empty() && d.from_ended && !d.to_shut) {
        shutdown(d.to, SHUT_WR);
        d.to_shut = true;
    }
}

}  // namespace

DelayProxy::DelayProxy(const std::string& target_host, int target_port, double delay_ms)
    : host_(target_host), target_port_(target_port), delay_ns_(static_cast<long long>(delay_ms * 1e6)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe(wake_) != 0) {
        problem_ = std::string("delay proxy: ") + std::strerror(errno);
        return;
    }
    nonblocking(listener_);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { loop(); });
}

DelayProxy::~DelayProxy() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!write(wake_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
}

void DelayProxy::loop() {
    std::list<Link> links;
    for (;;) {
        // What to wait for: a new client, bytes from either side, room to
        // write a chunk that is due, or the next chunk falling due.
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        Clock::time_point next = Clock::time_point::max();
        const Clock::time_point now = Clock::now();
        for (Link& l : links)
            for (Direction* d : {&l.up, &l.down}) {
                short events = d->from_ended ? 0 : POLLIN;
                if (!d->queue.empty()) {
                    if (d->queue.front().due <= now) {
                        fds.push_back({d->to, POLLOUT, 0});
                    } else {
                        next = std::min(next, d->queue.front().due);
                    }
                }
                if (events) fds.push_back({d->from, events, 0});
            }
        timespec timeout{};
        timespec* wait = nullptr;
        if (next != Clock::time_point::max()) {
            const long long ns =
                std::max<long long>(0,
                                    std::chrono::duration_cast<std::chrono::nanoseconds>(next - Clock::now()).count());
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            wait = &timeout;
        }
        if (ppoll(fds.data(), fds.size(), wait, nullptr) < 0 && errno != EINTR) return;
        if (fds[0].revents) break;
        if (fds[1].revents & POLLIN) {
            for (int client; (client = accept(listener_, nullptr, nullptr)) >= 0;) {
                const int server = connect_to(host_, target_port_);
                if (server < 0) {
                    close(client);
                    continue;
                }
                for (int fd : {client, server}) {
                    nonblocking(fd);
                    no_delay(fd);
                }
                Link& l = links.emplace_back();
                l.client = client;
                l.server = server;
                l.up.from = client;
                l.up.to = server;
                l.down.from = server;
                l.down.to = client;
            }
        }
        const Clock::time_point after = Clock::now();
        for (Link& l : links)
            for (Direction* d : {&l.up, &l.down}) {
                if (!d->from_ended) receive(*d, delay_ns_, l.dead);
                deliver(*d, after, l.dead);
            }
        for (auto it = links.begin(); it != links.end();) {
            const bool finished = it->dead || (it->up.to_shut && it->down.to_shut);
            if (finished) {
                close(it->client);
                close(it->server);
                it = links.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Link& l : links) {
        close(l.client);
        close(l.server);
    }
}

std::string through_proxy(const std::string& uri, int port, std::string& host, int& original_port) {
    const std::size_t scheme = uri.find("://");
    const std::size_t from = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = std::min(uri.find_first_of("/?", from), uri.size());
    const std::size_t at = uri.rfind('@', end);
    const std::size_t start = at == std::string::npos || at < from ? from : at + 1;
    const std::string authority = uri.substr(start, end - start);
    const std::size_t colon = authority.rfind(':');
    host = colon == std::string::npos ? authority : authority.substr(0, colon);
    original_port = colon == std::string::npos ? 5432 : std::atoi(authority.c_str() + colon + 1);
    if (host.empty()) host = "localhost";
    return uri.substr(0, start) + "127.0.0.1:" + std::to_string(port) + uri.substr(end);
}

}  // namespace ondival::bench
