// The column routines on arbitrary text: dotalign on the lines of the input
// (an empty line stands for a null entry), and the packed word decoders on
// the first characters.  Every padded entry must end with the longest tail.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dotalign.h"
#include "packed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(std::max<size_t>(text.size(), 4), 'A');
    volatile int32_t word = tlmword::decode24(text.c_str()) ^ tlmword::decode17(text.c_str());
    (void)word;

    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    lines.push_back(text.substr(start));

    std::vector<char *> column;
    int longest = 0;
    for (std::string &line : lines) {
        line.resize(std::strlen(line.c_str()));  // up to the first NUL, as C sees it
        column.push_back(line.empty() ? nullptr : line.data());
        longest = std::max(longest, places(line.c_str()));
    }
    const std::vector<char *> before = column;
    dotalign(column.data(), static_cast<int>(column.size()));
    for (size_t i = 0; i < column.size(); ++i) {
        if (column[i] == before[i]) continue;
        if (places(column[i]) != longest || where(column[i]) < 0) std::abort();
        std::free(column[i]);
    }
    return 0;
}
