// SPDX-License-Identifier: GPL-3.0-or-later
#include "coverimage.h"

#include "musicbrainz.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>
#include <vector>

namespace {

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX] = {};
};

// Decodes every line of a JPEG; the library's message when it cannot.
QString jpegProblem(const QByteArray &bytes)
{
    jpeg_decompress_struct info{};
    JpegFailure failure; // trivially destructible: nothing is skipped by the jump back
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = [](j_common_ptr common) {
        auto *f = reinterpret_cast<JpegFailure *>(common->err);
        common->err->format_message(common, f->message);
        std::longjmp(f->back, 1);
    };
    failure.manager.output_message = [](j_common_ptr) {}; // warnings are not said on the terminal
    if (setjmp(failure.back)) {
        jpeg_destroy_decompress(&info);
        return QString::fromLocal8Bit(failure.message);
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(bytes.constData()),
                 (unsigned long)bytes.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    // The line's memory is the library's (nothing here may need a destructor across the jump back).
    JSAMPARRAY line = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                info.output_width * JDIMENSION(info.output_components), 1);
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, line, 1);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return QString();
}

QString pngProblem(const QByteArray &bytes)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.constData(), size_t(bytes.size())))
        return QString::fromLocal8Bit(image.message);
    image.format = PNG_FORMAT_RGBA;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return QString::fromLocal8Bit(image.message);
    png_image_free(&image);
    return QString();
}

} // namespace

QString CoverImageProblem(const QByteArray &bytes)
{
    if (bytes.size() > MaxCoverBytes)
        return QStringLiteral("larger than %1 MB").arg(MaxCoverBytes >> 20);
    const bool jpeg = bytes.startsWith("\xFF\xD8\xFF");
    const bool png = bytes.startsWith("\x89PNG\r\n\x1A\n");
    if (!jpeg && !png)
        return QStringLiteral("not a JPEG or PNG image");
    // The image must end as its format ends (JPEG's end-of-image marker, PNG's IEND chunk), and decode.
    QByteArray tail = bytes.right(64);
    while (tail.endsWith('\0'))
        tail.chop(1);
    const bool whole = jpeg ? tail.endsWith("\xFF\xD9") : tail.contains("IEND\xAE\x42\x60\x82");
    if (!whole)
        return QStringLiteral("the image is cut short");
    const QString problem = jpeg ? jpegProblem(bytes) : pngProblem(bytes);
    return problem.isEmpty() ? QString() : QStringLiteral("the image cannot be decoded: ") + problem;
}
