// The benchmark's record of when the machine stood still: only where every
// CPU ran nothing at once is a wait the machine's.
#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "bench/machine_stalls.h"

namespace {

using bench::MachineStalls;
using bench::WallSpan;

std::string WriteRecord(const char* text) {
    char folder[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "qms", 0, path);
    std::FILE* file = std::fopen(path, "w");
    std::fputs(text, file);
    std::fclose(file);
    return path;
}

TEST(MachineStalls, OnlyGapsOfEveryCpuAtOnceCountAndAreTakenFromTheWaitsTheyOverlap) {
    // CPU 0 and CPU 1 overlap from 1.05 to 1.1 s; CPU 0's two overlapping
    // gaps from 2.0 s join and meet CPU 1's until 2.15 s; CPU 1 alone at 3 s
    // is no stall of the machine.
    std::string path = WriteRecord(
        "cpus 2\n"
        "0 1000000 1100000\n1 1050000 1200000\n"
        "0 2000000 2100000\n0 2050000 2150000\n1 2000000 2300000\n"
        "1 3000000 3100000\n");
    MachineStalls stalls;
    ASSERT_TRUE(stalls.Load(path.c_str()));
    EXPECT_NEAR(stalls.StalledWithin(0, 10), 0.20, 1e-9);
    EXPECT_NEAR(stalls.StalledWithin(1.08, 2.05), 0.02 + 0.05, 1e-9);
    EXPECT_NEAR(stalls.LongestWithin(1.0, 1.2), 0.05, 1e-9);
    EXPECT_NEAR(stalls.LongestWithin(2.1, 2.2), 0.15, 1e-9);
    EXPECT_EQ(stalls.LongestWithin(2.9, 3.2), 0);
    EXPECT_NEAR(stalls.OwnSeconds(WallSpan{2.1, 0.2}), 0.15, 1e-9);
    EXPECT_NEAR(stalls.OwnSeconds(WallSpan{3.0, 0.1}), 0.1, 1e-9);
    EXPECT_NEAR(bench::LongestOwn({{1.0, 0.1}, {2.0, 0.2}, {5.0, 0.08}}, stalls), 0.08, 1e-9);
    DeleteFileA(path.c_str());

    // A CPU that never stood still keeps the machine going throughout.
    path = WriteRecord("cpus 2\n0 1000000 1100000\n");
    ASSERT_TRUE(stalls.Load(path.c_str()));
    EXPECT_EQ(stalls.StalledWithin(0, 10), 0);
    DeleteFileA(path.c_str());

    // No record, or not one: nothing measured, and nothing taken off.
    path = WriteRecord("machine_stalls: no real-time thread\n");
    EXPECT_FALSE(stalls.Load(path.c_str()));
    EXPECT_FALSE(stalls.Measured());
    EXPECT_EQ(stalls.StalledWithin(0, 10), 0);
    DeleteFileA(path.c_str());
    EXPECT_FALSE(stalls.Load(path.c_str()));
    EXPECT_FALSE(stalls.Load(nullptr));
}

}  // namespace
