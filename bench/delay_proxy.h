// A TCP relay on loopback that holds every chunk of bytes for a set time
// before passing it on, in each direction: a database server as far away as
// an office network or a VPN puts it, on a machine that has it next door.
//
// Each chunk read from one side is written to the other side `delay_ms`
// after it arrived; chunks in flight overlap as they do on a real link
// (the relay never waits for one chunk to be delivered before reading the
// next), so a client that sends without waiting pays the delay once and a
// client that waits for each answer pays it twice per answer. Deadlines are
// kept with a nanosecond timer (ppoll), not rounded to milliseconds.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace ondival::bench {

class DelayProxy {
public:
    // Relays 127.0.0.1:port() to target_host:target_port.
    DelayProxy(const std::string& target_host, int target_port, double delay_ms);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int port() const { return port_; }
    // Empty when the relay listens; otherwise why it could not.
    const std::string& problem() const { return problem_; }

private:
    void loop();

    std::string host_;
    int target_port_;
    long long delay_ns_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};  // a pipe that ends the loop
    int port_ = 0;
    std::string problem_;
    std::thread thread_;
};

// The address `uri` (postgresql://user@host:port/db?...) with its host and
// port replaced by 127.0.0.1 and `port`; host and port of the original in
// `host` and `original_port` (5432 when it names none).
std::string through_proxy(const std::string& uri, int port, std::string& host, int& original_port);

}  // namespace ondival::bench
