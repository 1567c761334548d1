// tlmword24 WORD: prints WORD, then the 24-bit signed integer packed into its
// first four characters.
#include "decoder_main.h"
#include "packed.h"

int main(int argc, char **argv) {
    const tlmword::Decoder d{"tlmword24", 4, true, tlmword::decode24};
    return tlmword::decoder_main(d, argc, argv);
}
