#include "platform/error.h"

#include "platform/cp1252.h"

#include <new>

namespace ondival::platform {

Failure::Failure(Error error) : error_(std::move(error)), what_(cp1252_to_utf8(error_.description)) {
    if (error_.kind == ErrorKind::kNone) error_.kind = error_kind(error_.number);
}

Failure::Failure(std::int32_t number, std::string description, const ErrorOrigin& origin)
    : Failure(Error{number, std::move(description), error_kind(number, origin)}) {}

Failure::Failure(std::int32_t number, std::string description, ErrorKind kind)
    : Failure(Error{number, std::move(description), kind}) {}

void raise(std::int32_t number, std::string description, const ErrorOrigin& origin) {
    throw Failure(number, std::move(description), origin);
}

void raise(std::int32_t number, std::string description, ErrorKind kind) {
    throw Failure(number, std::move(description), kind);
}

Error current_error() noexcept {
    try {
        throw;
    } catch (const Failure& f) {
        return f.error();
    } catch (const std::bad_alloc&) {
        return Error{7, "M\xe9moire insuffisante", ErrorKind::kOutOfMemory};
    } catch (const std::exception& e) {
        return Error{51, std::string("Erreur interne : ") + utf8_to_cp1252(e.what()), ErrorKind::kInternal};
    } catch (...) {
        return Error{51, "Erreur interne", ErrorKind::kInternal};
    }
}

}  // namespace ondival::platform
