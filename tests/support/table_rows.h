// Tables of expected outcomes, one row a case, checked by one loop. Each row
// keeps the file and line it was written on, and a failure in the check of a
// row names that place: the failing row is found at once, not just the loop.
// A row type starts with a RowPlace named Place; rows are written
// TABLE_ROW(the other fields...).
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

struct RowPlace {
    const char* File;
    int Line;
};

#define TABLE_ROW(...) {{__FILE__, __LINE__}, __VA_ARGS__}

// Runs check(row) for every row, each under a trace that names the row's place.
template <typename Rows, typename Check>
void CheckEachRow(const Rows& rows, Check check) {
    for (const auto& row : rows) {
        testing::ScopedTrace trace(row.Place.File, row.Place.Line, "the row written here");
        check(row);
    }
}

}  // namespace testsupport
