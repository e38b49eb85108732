#include "cli/interrupt.h"

#include <csignal>

namespace ondival::cli {
namespace {

// What a signal handler may touch: a lock-free pointer and a counter.
std::atomic<clsOndival*> g_component{nullptr};
volatile std::sig_atomic_t g_interrupts = 0;
struct sigaction g_previous {};

extern "C" void on_interrupt(int signal_number) {
    if (g_interrupts > 0) {
        // The second Ctrl-C: the default action, which ends the process.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    g_interrupts = 1;
    if (clsOndival* component = g_component.load()) component->request_stop();
}

}  // namespace

InterruptScope::InterruptScope(clsOndival& component) {
    g_interrupts = 0;
    g_component.store(&component);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the import's reads and writes go on until it sees the request
    sigaction(SIGINT, &action, &g_previous);
}

InterruptScope::~InterruptScope() {
    sigaction(SIGINT, &g_previous, nullptr);
    g_component.store(nullptr);
}

bool InterruptScope::interrupted() const { return g_interrupts != 0; }

}  // namespace ondival::cli
