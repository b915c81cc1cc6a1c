#include "unit/support/value_vectors.h"

#include <fstream>

namespace talve {
namespace test {

namespace {
std::vector<std::string> cells(const std::string& row) {
    std::vector<std::string> out;
    std::size_t start = row.find('|');
    while (start != std::string::npos) {
        const std::size_t end = row.find('|', start + 1);
        if (end == std::string::npos) break;
        std::string cell = row.substr(start + 1, end - start - 1);
        const std::size_t first = cell.find_first_not_of(' '), last = cell.find_last_not_of(' ');
        cell = first == std::string::npos ? "" : cell.substr(first, last - first + 1);
        if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') cell = cell.substr(1, cell.size() - 2);
        out.push_back(cell);
        start = end;
    }
    return out;
}
} // namespace

std::vector<ValueVector> documentedValueVectors(const std::string& documentPath) {
    std::vector<ValueVector> vectors;
    std::ifstream in(documentPath);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> row = cells(line);
        if (row.size() != 5 || (row[0] != "user" && row[0] != "program")) continue;
        ValueVector vector;
        vector.programKey = row[0] == "program";
        vector.key = vector.programKey ? "" : row[1];
        vector.ivHex = row[2];
        vector.text = row[3] == "(empty)" ? "" : row[3];
        vector.value = row[4];
        vectors.push_back(vector);
    }
    return vectors;
}

} // namespace test
} // namespace talve
