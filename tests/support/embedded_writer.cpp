#include "bmp_writer.h"

#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

namespace fixture {

std::vector<std::uint8_t> compressRows(const std::uint8_t* pixels, int width, int height, int components, int space,
                                       int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = static_cast<J_COLOR_SPACE>(space);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(width) * static_cast<unsigned>(components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// Rgba's layout, alpha left out.
std::vector<std::uint8_t> jpegOf(const Picture& p) { return compressRows(&p.colours[0].r, p.width, p.height, 4, JCS_EXT_RGBX, 90); }

std::vector<std::uint8_t> pngOf(const Picture& p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(p.width);
    image.height = static_cast<png_uint_32>(p.height);
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> bytes(PNG_IMAGE_PNG_SIZE_MAX(image));
    png_alloc_size_t size = bytes.size();
    png_image_write_to_memory(&image, bytes.data(), &size, 0, p.colours.data(), 0, nullptr);
    bytes.resize(size);
    return bytes;
}

}  // namespace fixture
