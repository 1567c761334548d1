// A scratch file of the fuzz process's own, rewritten for every input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fuzzing {

inline const std::string &scratch_path() {
    static const std::string path = "/tmp/zulu-fuzz-" + std::to_string(getpid());
    return path;
}

inline void write_scratch(const uint8_t *data, size_t size) {
    FILE *f = std::fopen(scratch_path().c_str(), "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

inline std::vector<uint8_t> read_scratch() {
    std::vector<uint8_t> bytes;
    FILE *f = std::fopen(scratch_path().c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return bytes;
}

// Library messages go to standard output; the fuzzer does not read them.
inline void silence_stdout() {
    if (!std::freopen("/dev/null", "w", stdout)) std::perror("freopen");
}

// Takes the next sizeof(T) bytes of the input (zeros once it runs out).
template <typename T>
T take(const uint8_t *&data, size_t &size) {
    T value{};
    const size_t n = size < sizeof value ? size : sizeof value;
    __builtin_memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace fuzzing
