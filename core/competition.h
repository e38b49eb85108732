// The artificial competition that receives every performance of one
// import, held in the artificial reference pool "Null".
#pragma once

#include <cstdint>
#include <string>

namespace ondival {

// The new competition's number, or -1 when it could not be created; `name`,
// when given, receives the name it was created under.
std::int16_t cree_reference_compet(std::int16_t trace_file, std::string* name = nullptr);
std::string num_piscine_reference();
std::string num_competition(const std::string& name);

}  // namespace ondival
