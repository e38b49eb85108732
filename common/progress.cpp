#include "common/progress.h"

#include "common/trace.h"
#include "platform/cp1252.h"
#include "platform/error.h"
#include "platform/text_file.h"

namespace ondival {

platform::ProgressForm*& formulaire_progression() {
    thread_local platform::ProgressForm* form = nullptr;
    return form;
}

const std::atomic<bool>*& stop_request() {
    thread_local const std::atomic<bool>* request = nullptr;
    return request;
}

void check_stop_request() {
    const std::atomic<bool>* request = stop_request();
    if (request && request->load(std::memory_order_relaxed))
        platform::raise(platform::err::kUserInterrupt, "Interruption par l'utilisateur");
}

void affiche_etape(std::string_view title, std::string_view message, std::int16_t file) {
    check_stop_request();
    platform::ProgressForm* form = formulaire_progression();
    if (form) form->SetStepTitle(platform::cp1252_to_utf8(title));
    trace(file, "");
    trace(file, message);
    // A step is a natural point for the trace to reach the disk: a host that
    // reads it while the import runs sees where it stands.
    platform::files().Flush(file);
    if (form) {
        form->SetValue(0);
        form->Refresh();
    }
}

void avance_progression(double step) {
    check_stop_request();
    platform::ProgressForm* form = formulaire_progression();
    if (!form) return;
    const double value = form->Value();
    form->SetValue(value > 100 - step ? 100 : value + step);
}

}  // namespace ondival
