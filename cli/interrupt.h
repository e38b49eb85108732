// Ctrl-C during an import or a check. The first one asks the component to
// stop at its next line, so the call ends as a failed one does: the open
// step rolled back, the trace saying it was interrupted, the report written
// whole, the check's temporary copies removed. A second one, for a user who
// will not wait for that, ends the process at once (the database stays
// consistent either way: what was not committed is rolled back at the next
// opening, or by the server).
#pragma once

#include "import/cls_ondival.h"

namespace ondival::cli {

// Exit code of a command stopped by Ctrl-C, as a shell gives for SIGINT.
inline constexpr int kExitInterrupted = 130;

class InterruptScope {
public:
    // Catches SIGINT for the life of the scope and forwards it to component.
    explicit InterruptScope(clsOndival& component);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    // True once Ctrl-C was pressed within the scope.
    bool interrupted() const;
};

}  // namespace ondival::cli
