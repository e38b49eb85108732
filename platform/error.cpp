#include "platform/error.h"

#include "platform/cp1252.h"

#include <new>

namespace ondival::platform {

Failure::Failure(Error error) : error_(std::move(error)), what_(cp1252_to_utf8(error_.description)) {}

Failure::Failure(std::int32_t number, std::string description) : Failure(Error{number, std::move(description)}) {}

void raise(std::int32_t number, std::string description) { throw Failure(number, std::move(description)); }

Error current_error() noexcept {
    try {
        throw;
    } catch (const Failure& f) {
        return f.error();
    } catch (const std::bad_alloc&) {
        return Error{7, "M\xe9moire insuffisante"};
    } catch (const std::exception& e) {
        return Error{51, std::string("Erreur interne : ") + utf8_to_cp1252(e.what())};
    } catch (...) {
        return Error{51, "Erreur interne"};
    }
}

}  // namespace ondival::platform
