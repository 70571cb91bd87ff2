// A table of benchmark figures: printed aligned on the console, and as a
// Markdown table into the results file when one is open.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// The results file (bench/RESULTS.md), opened for appending; null when none.
void OpenResultsFile(const char* path);
void CloseResultsFile();
// A paragraph for the console and the results file.
void Note(const std::string& text);

class ResultsTable {
public:
    ResultsTable(std::string title, std::vector<std::string> columns);
    void Row(std::vector<std::string> cells);
    // Prints the table with its notes below it.
    void Print(const std::string& notes = "") const;

private:
    std::string title_;
    std::vector<std::string> columns_;
    std::vector<std::vector<std::string>> rows_;
};

// Formats a number with the given decimals.
std::string Fixed(double value, int decimals);

// The value below which the share of the values lies (nearest rank); 0 for
// none.
double Percentile(std::vector<double> values, double share);

}  // namespace bench
