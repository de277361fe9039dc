// The cases of a parameterised test, named in test listings and in ctest's test names instead
// of a dump of their bytes.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace testcam_test {

// The name comes first in a case's table: struct RateCase : NamedCase<RateCase> {...};
// RateCase{{"Rgb24At15"}, ...}.
template <class Case> struct NamedCase {
    const char* name;

    // Found through the case's base class, and an exact match: GoogleTest prefers it to its
    // own dump.
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

// INSTANTIATE_TEST_SUITE_P's last argument: each test named after its case.
struct CaseName {
    template <class Case> std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

} // namespace testcam_test
