// The host's progress form: the title of the step under way and a bar that
// runs from 0 to 100 within each file. A host that passes no form simply
// sees nothing move.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "platform/progress_form.h"

namespace ondival {

// The host's progress form for the import running on this thread, null when
// the host passed none. The import's shared state knows it as objForm; it
// lives here so that the progress display needs nothing from the import.
platform::ProgressForm*& formulaire_progression();

// The host's request to stop the import running on this thread, null when
// the host can make none. Set from another thread or a signal handler, read
// at the start of each step and after each line.
const std::atomic<bool>*& stop_request();

// Raises the user's interruption (error 18) when the host asked the import
// to stop; the nearest handler lets it through to the entry point, which
// rolls back the open step as for any error that reaches the host.
void check_stop_request();

// Shows a new step: title on the form, an empty line and the message in the
// trace, bar back to 0, form repainted.
void affiche_etape(std::string_view title, std::string_view message, std::int16_t file);

// Moves the bar one line on, never beyond 100.
void avance_progression(double step);

}  // namespace ondival
