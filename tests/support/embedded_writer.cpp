#include "bmp_writer.h"

#include <cstdio>  // jpeglib.h needs FILE and size_t
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

namespace fixture {

std::vector<std::uint8_t> jpegOf(const Picture& p) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(p.width);
    cinfo.image_height = static_cast<JDIMENSION>(p.height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_RGBX;  // Rgba's layout, alpha left out
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPROW> rows;
    for (std::size_t i = 0; i < p.colours.size(); i += static_cast<std::size_t>(p.width))
        rows.push_back(const_cast<JSAMPROW>(&p.colours[i].r));
    jpeg_write_scanlines(&cinfo, rows.data(), cinfo.image_height);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

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
