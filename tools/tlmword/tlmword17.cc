// tlmword17 WORD: prints the 18-bit signed integer packed into the first
// three characters of WORD.
#include "decoder_main.h"
#include "packed.h"

int main(int argc, char **argv) {
    const tlmword::Decoder d{"tlmword17", 3, false, tlmword::decode17};
    return tlmword::decoder_main(d, argc, argv);
}
