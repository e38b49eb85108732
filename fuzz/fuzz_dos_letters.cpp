// Any bytes through the text conversions a name goes through on its way
// from a federation file to the host database: the DOS letters, the
// family-name capitals and Windows-1252 to UTF-8 and back. Each keeps one
// byte a character, so fixed-width columns cannot shift, and none can
// write a text the host cannot read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/dos_letters.h"
#include "common/keyed_list.h"
#include "common/letters.h"
#include "fuzz/fuzz_checks.h"
#include "platform/cp1252.h"

namespace {

using ondival::fuzz::require;
using ondival::fuzz::valid_utf8;

struct Lists {
    ondival::TextList accents, capitals;
    Lists() { ondival::charge_accents(accents, capitals); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Lists lists;
    const std::string raw(reinterpret_cast<const char*>(data), size);

    const std::string letters = ondival::accents_dos(raw);
    require(letters.size() == raw.size(), "accents_dos changed the length");
    std::string in_place = raw;
    ondival::accents_dos_in_place(in_place);
    require(in_place == letters, "accents_dos and accents_dos_in_place disagree");
    // A line read twice (a copy of a copy) must not move its letters again.
    require(ondival::accents_dos(letters) == letters, "accents_dos is not idempotent");
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto before = static_cast<unsigned char>(raw[i]);
        if (before < 0x80 || before > 0x97)
            require(letters[i] == raw[i], "accents_dos touched a byte outside the DOS letters");
    }

    const std::string capitals = ondival::majuscules_sans_accents(letters, lists.accents, lists.capitals);
    require(capitals.size() == letters.size(), "family-name capitals changed the length");
    require(ondival::upper_1252(capitals) == capitals, "family name left with small letters");
    require(ondival::majuscules_sans_accents(capitals, lists.accents, lists.capitals) == capitals,
            "family-name capitals are not idempotent");

    // Every byte of the component's text survives the database and back.
    const std::string utf8 = ondival::platform::cp1252_to_utf8(letters);
    require(valid_utf8(utf8), "Windows-1252 text written as malformed UTF-8");
    require(ondival::platform::utf8_to_cp1252(utf8) == letters, "Windows-1252 text lost in a round trip");
    require(ondival::platform::is_ascii(letters) == (utf8 == letters), "is_ascii disagrees with the conversion");

    // Whatever the host hands in (paths, a hand-edited database) comes back
    // as one byte a character that converts to well-formed UTF-8 again.
    const std::string from_host = ondival::platform::utf8_to_cp1252(raw);
    require(valid_utf8(ondival::platform::cp1252_to_utf8(from_host)), "host text converted to malformed UTF-8");
    if (valid_utf8(raw) && ondival::platform::is_ascii(raw)) require(from_host == raw, "ASCII changed on its way in");
    return 0;
}
