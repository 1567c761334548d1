#include "decoder_main.h"

#include <cstdio>
#include <cstring>

#include "output.h"

namespace tlmword {
namespace {

void usage(const Decoder &d, std::FILE *to) {
    std::fprintf(to, "usage: %s [--] WORD\n", d.name);
}

void help(const Decoder &d) {
    usage(d, stdout);
    std::printf("Decodes the signed integer packed six bits per character into the first %zu\n"
                "characters of WORD and prints it in decimal%s.\n"
                "Put \"--\" before a WORD that begins with \"-\".\n"
                "  -h, --help  show this help and exit\n"
                "  --version   show the version and exit\n",
                d.width, d.echo ? ", after WORD itself" : "");
}

int usage_error(const Decoder &d, const char *why) {
    std::fprintf(stderr, "%s: %s\n", d.name, why);
    usage(d, stderr);
    return 2;
}

// The output: the word itself when the decoder echoes it, then the value.
// The value is a 32-bit integer, widened to long to print with "%ld".
void decode_and_print(const Decoder &d, const char *word) {
    if (d.echo) std::puts(word);
    std::printf("%ld\n", static_cast<long>(d.decode(word)));
}

// Prints what the command line asks for; returns the exit status.
int run(const Decoder &d, int argc, char **argv) {
    int first = 1;
    if (argc > 1) {
        const char *opt = argv[1];
        if (!std::strcmp(opt, "-h") || !std::strcmp(opt, "--help")) {
            help(d);
            return 0;
        }
        if (!std::strcmp(opt, "--version")) {
            std::printf("%s %s\n", d.name, TLMWORD_VERSION);
            return 0;
        }
        if (!std::strcmp(opt, "--")) {
            first = 2;
        } else if (opt[0] == '-' && opt[1] != '\0') {
            std::fprintf(stderr, "%s: unknown option \"%s\" (put \"--\" before a WORD that begins with \"-\")\n",
                         d.name, opt);
            usage(d, stderr);
            return 2;
        }
    }
    if (argc <= first) return usage_error(d, "missing WORD");
    if (argc > first + 1) return usage_error(d, "too many arguments");
    const char *word = argv[first];
    if (std::strlen(word) < d.width) {
        std::fprintf(stderr, "%s: WORD must have at least %zu characters: \"%s\"\n", d.name, d.width, word);
        return 2;
    }
    decode_and_print(d, word);
    return 0;
}

}  // namespace

int decoder_main(const Decoder &d, int argc, char **argv) {
    const int status = run(d, argc, argv);
    return close_stdout(d.name) != 0 ? 1 : status;
}

}  // namespace tlmword
