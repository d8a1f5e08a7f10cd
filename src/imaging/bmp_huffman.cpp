// OS/2 Huffman 1D: 1-bit rows in ITU-T T.4 modified Huffman codes.
#include "bmp_decode.h"

#include "source_file.h"

namespace imaging {

std::uint64_t huffmanWorkingBytes(const SourceFile&, const BmpFormat&) { return 0; }

int decodeHuffman(const SourceFile&, const BmpFormat&, const std::vector<RGBQUAD>&, ImageData&) {
    return IMG_ERR_UNSUPPORTED;
}

}  // namespace imaging
