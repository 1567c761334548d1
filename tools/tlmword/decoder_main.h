// The command line shared by the packed word decoders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tlmword {

struct Decoder {
    const char *name;                      // program name used in messages
    std::size_t width;                     // characters the word must have
    bool echo;                             // print the word before its value
    std::int32_t (*decode)(const char *);  // reads the first `width` characters
};

// Runs one decoder on argv and returns the exit status: 0 on success, 1 when
// the output cannot be written, 2 for a usage error.
int decoder_main(const Decoder &d, int argc, char **argv);

}  // namespace tlmword
