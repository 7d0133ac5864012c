#include "host/vyxview/pngfile.h"

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace vyxview {

namespace {

// libpng reports errors through a longjmp; the message is kept for the caller.
void OnPngError(png_structp png, png_const_charp message) {
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Everything libpng needs from us is made before setjmp, so that a longjmp skips no
// destructor that matters.
bool Write(std::FILE* file, const Picture& picture, std::uint32_t bits,
           const std::vector<png_bytep>& rows, std::string& error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning);
    if (png == nullptr) {
        error = "libpng cannot start";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        if (error.empty())
            error = "libpng failed";
        return false;
    }
    const int depth = bits > 8 ? 16 : 8;
    png_init_io(png, file);
    png_set_IHDR(png, info, picture.width, picture.height, depth, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (bits != std::uint32_t(depth)) {
        png_color_8 significant{};
        significant.gray = png_byte(bits);
        png_set_sBIT(png, info, &significant);
    }
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool SavePng(const std::string& path, const Picture& picture, std::uint32_t bits,
             std::string& error) {
    if (picture.values.empty()) {
        error = "no picture yet";
        return false;
    }
    // PNG rows: one byte per pixel, or two, most significant first.
    const bool wide = bits > 8;
    const std::size_t rowBytes = std::size_t{picture.width} * (wide ? 2 : 1);
    std::vector<png_byte> pixels(rowBytes * picture.height);
    std::vector<png_bytep> rows(picture.height);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        rows[y] = pixels.data() + y * rowBytes;
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint16_t value = picture.At(x, y);
            if (wide) {
                rows[y][2 * x] = png_byte(value >> 8);
                rows[y][2 * x + 1] = png_byte(value);
            } else {
                rows[y][x] = png_byte(value);
            }
        }
    }
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + temporary;
        return false;
    }
    bool ok = Write(file, picture, bits, rows, error);
    if (std::fflush(file) != 0 || std::ferror(file) != 0) {
        ok = false;
        error = error.empty() ? "cannot write " + temporary : error;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = "cannot write " + temporary;
    }
    std::error_code code;
    if (ok) {
        std::filesystem::rename(temporary, path, code);
        if (code) {
            ok = false;
            error = "cannot rename " + temporary + " to " + path + ": " + code.message();
        }
    }
    if (!ok)
        std::filesystem::remove(temporary, code);
    return ok;
}

} // namespace vyxview
