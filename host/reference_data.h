// Reference data that `ondival init` writes into a new host database and
// that the sample-export generator draws its club codes and stroke codes
// from. Kept in one place so that a generated export always names
// geography and events the database knows.
//
// The geography is public: France's regions and departments with their
// official codes, grouped into inter-regions of our own making, plus a few
// neighbouring countries. Inter-region 0 is the national level and the only
// one a foreign code may carry.
#pragma once

#include <span>

namespace ondival::host {

struct Country {
    const char* code;  // 3 letters, positions 1-3 of a federal club code
    const char* name;  // UTF-8
};

struct InterRegion {
    int code;          // position 4 of a federal club code
    const char* name;  // UTF-8
};

struct Region {
    const char* code;  // 2 characters, positions 5-6
    int inter_region;  // InterRegion::code
    const char* name;  // UTF-8
};

struct Department {
    const char* code;    // 3 characters, positions 7-9
    const char* region;  // Region::code
    const char* name;    // UTF-8
};

struct Stroke {
    int code;           // Nage.Code_Nage, 1-99
    const char* sex;    // Nage.Sexe: "F", "M" or "X" (mixed relay)
    const char* label;  // UTF-8
    bool relay;         // event swum as a relay
};

std::span<const Country> countries();
std::span<const InterRegion> inter_regions();
std::span<const Region> regions();
std::span<const Department> departments();
std::span<const Stroke> strokes();

}  // namespace ondival::host
