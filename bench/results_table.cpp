#include "bench/results_table.h"

#include <algorithm>

namespace bench {
namespace {

FILE* g_results = nullptr;

}  // namespace

void OpenResultsFile(const char* path) { g_results = path ? std::fopen(path, "a") : nullptr; }

void CloseResultsFile() {
    if (g_results) std::fclose(g_results);
    g_results = nullptr;
}

void Note(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    if (g_results) std::fprintf(g_results, "%s\n\n", text.c_str());
}

ResultsTable::ResultsTable(std::string title, std::vector<std::string> columns)
    : title_(std::move(title)), columns_(std::move(columns)) {}

void ResultsTable::Row(std::vector<std::string> cells) {
    cells.resize(columns_.size());
    rows_.push_back(std::move(cells));
}

void ResultsTable::Print(const std::string& notes) const {
    std::vector<size_t> widths(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
        widths[c] = columns_[c].size();
        for (const auto& row : rows_) widths[c] = std::max(widths[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text = " ";
        for (size_t c = 0; c < cells.size(); ++c) {
            std::string cell = cells[c];
            cell.resize(widths[c], ' ');
            text += " " + cell;
        }
        return text;
    };
    std::printf("\n%s\n", title_.c_str());
    std::printf("%s\n", line(columns_).c_str());
    for (const auto& row : rows_) std::printf("%s\n", line(row).c_str());
    if (!notes.empty()) std::printf("%s\n", notes.c_str());
    std::fflush(stdout);
    if (!g_results) return;
    std::fprintf(g_results, "### %s\n\n|", title_.c_str());
    for (const auto& column : columns_) std::fprintf(g_results, " %s |", column.c_str());
    std::fprintf(g_results, "\n|");
    for (size_t c = 0; c < columns_.size(); ++c) std::fprintf(g_results, "---|");
    std::fprintf(g_results, "\n");
    for (const auto& row : rows_) {
        std::fprintf(g_results, "|");
        for (const auto& cell : row) std::fprintf(g_results, " %s |", cell.c_str());
        std::fprintf(g_results, "\n");
    }
    std::fprintf(g_results, "\n");
    if (!notes.empty()) std::fprintf(g_results, "%s\n\n", notes.c_str());
    std::fflush(g_results);
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace bench
