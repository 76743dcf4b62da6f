// make_images DIR: writes DIR/image.bin, DIR/image.hex (bank advances) and
// DIR/image-standard.hex (extended linear addresses), all the same 1 MiB image.
#include <cstdio>
#include <string>

#include "bench/ImageFiles.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_images DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto image = benchimage::MakeImage();
    const bool ok =
        benchimage::WriteFile(dir + "/image.bin", std::string(image.begin(), image.end())) &&
        benchimage::WriteFile(dir + "/image.hex",
                              benchimage::HexText(image, benchimage::HexFlavour::BankAdvance)) &&
        benchimage::WriteFile(dir + "/image-standard.hex",
                              benchimage::HexText(image, benchimage::HexFlavour::ExtendedLinear));
    if (!ok) {
        std::fprintf(stderr, "make_images: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
