// Tables of expected outcomes, one row a case, checked by one loop. Each row
// keeps the file and line it was written on, and every failure inside the
// check of a row names that place, so that the failing row is found at once
// rather than the loop that checked it.
//
// A row type starts with a RowPlace named Place; rows are written with
// TABLE_ROW(the other fields...).
#pragma once

#include <gtest/gtest.h>

namespace testsupport {

// Where a row was written.
struct RowPlace {
    const char* File;
    int Line;
};

#define TABLE_ROW(...) {{__FILE__, __LINE__}, __VA_ARGS__}

// Runs check(row) for every row; a failure reports the row's file and line.
template <typename Rows, typename Check>
void CheckEachRow(const Rows& rows, Check check) {
    for (const auto& row : rows) {
        testing::ScopedTrace trace(row.Place.File, row.Place.Line, "the row written here");
        check(row);
    }
}

}  // namespace testsupport
